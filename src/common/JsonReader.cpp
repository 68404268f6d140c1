#include "common/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <cmath>

namespace {

std::optional<QString> valueText(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return jsonNumberText(value.toDouble());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Array: {
        QStringList parts;
        const QJsonArray array = value.toArray();
        for (const QJsonValue& element : array)
            parts << valueText(element).value_or(QString());
        return parts.join(QLatin1Char(','));
    }
    case QJsonValue::Object:
        return QStringLiteral("[object Object]");
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return std::nullopt;
}

} // namespace

QString jsonNumberText(double value) {
    if (value == 0)
        return QStringLiteral("0");
    QString text = QString::number(value, 'g', 15);
    // Script engines write plain decimals from 1e-6 up to 1e21; 'g' switches to an exponent earlier.
    const double magnitude = std::fabs(value);
    if (text.contains(QLatin1Char('e')) && magnitude >= 1e-6 && magnitude < 1e21) {
        const int decimals = std::max(0, 14 - int(std::floor(std::log10(magnitude))));
        text = QString::number(value, 'f', decimals);
        if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0')))
                text.chop(1);
            if (text.endsWith(QLatin1Char('.')))
                text.chop(1);
        }
    }
    return text;
}

bool JsonReply::isNull(const QString& name) const {
    return m_object.contains(name) && m_object.value(name).isNull();
}

std::optional<QString> JsonReply::text(const QString& name) const {
    const auto it = m_object.constFind(name);
    if (it == m_object.constEnd())
        return std::nullopt;
    return valueText(*it);
}

std::optional<JsonReply> ParseJson(const QString& text) {
    if (text.trimmed().isEmpty())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return JsonReply(document.object());
}
