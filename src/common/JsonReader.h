#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// A reply object whose members are read one by one by their exact name.
class JsonReply {
public:
    explicit JsonReply(QJsonObject object) : m_object(std::move(object)) {}

    bool has(const QString& name) const { return m_object.contains(name); }
    // True only for a member that is present and null.
    bool isNull(const QString& name) const;
    // A member as text; nothing for a missing or null member, so callers can tell "no value"
    // from the empty string.
    std::optional<QString> text(const QString& name) const;

private:
    QJsonObject m_object;
};

// Parses a whole reply. Anything but a JSON object (empty text, an array, a lone value, HTML,
// a truncated reply) gives nothing. The text is only parsed, never evaluated.
std::optional<JsonReply> ParseJson(const QString& text);

// Decimal text of a number with at most 15 significant digits: -21.5 stays -21.5, 3 stays 3.
QString jsonNumberText(double value);
