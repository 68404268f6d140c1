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
    // The 15 significant digits and the exponent, laid out as a script engine writes a number:
    // plain decimals from 1e-6 up to 1e21, "1.5e-7" and "1e+21" beyond.
    const QString scientific = QString::number(std::fabs(value), 'e', 14);
    const qsizetype e = scientific.indexOf(QLatin1Char('e'));
    const int exponent = scientific.mid(e + 1).toInt();
    QString digits = scientific.left(e).remove(QLatin1Char('.'));
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    QString text;
    if (exponent >= 21 || exponent < -6) {
        text = digits.left(1) + (digits.size() > 1 ? QLatin1Char('.') + digits.mid(1) : QString()) +
               (exponent < 0 ? QStringLiteral("e-") : QStringLiteral("e+")) +
               QString::number(std::abs(exponent));
    } else if (exponent < 0) {
        text = QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    } else if (digits.size() <= exponent + 1) {
        text = digits + QString(exponent + 1 - digits.size(), QLatin1Char('0'));
    } else {
        text = digits.left(exponent + 1) + QLatin1Char('.') + digits.mid(exponent + 1);
    }
    return value < 0 ? QLatin1Char('-') + text : text;
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
