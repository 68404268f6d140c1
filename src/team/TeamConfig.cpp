#include "team/TeamConfig.h"

#include "common/IniFile.h"

#include <QDir>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

#include <libpq-fe.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kSection = u"Team"_s;
const QString kMask = u"******"_s;

// Keepalives and a bound on unacknowledged data: a server that vanishes mid-query (a pulled
// cable, a VPN that drops) would otherwise hold the connection for the system's TCP timeouts,
// a quarter of an hour or more. Ignored where the platform lacks them.
const std::pair<const char*, const char*> kDefaults[] = {
    {"keepalives_idle", "20"},
    {"keepalives_interval", "10"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "60000"},
};

void setOption(QList<std::pair<QByteArray, QByteArray>>& options, const QByteArray& keyword,
               const QByteArray& value) {
    for (auto& option : options) {
        if (option.first == keyword) {
            option.second = value;
            return;
        }
    }
    options.append(std::pair(keyword, value));
}

QByteArray option(const QList<std::pair<QByteArray, QByteArray>>& options, const QByteArray& keyword) {
    for (const auto& option : options)
        if (option.first == keyword)
            return option.second;
    return {};
}

void addSecret(QStringList& secrets, const QString& raw) {
    if (raw.isEmpty())
        return;
    secrets << raw << QUrl::fromPercentEncoding(raw.toUtf8());
    QString unescaped = raw;
    unescaped.replace(u"\\'"_s, u"'"_s).replace(u"\\\\"_s, u"\\"_s);
    secrets << unescaped;
}

// Every text of the string that could be a password, even when libpq cannot parse it: its
// messages about a broken string quote pieces of it.
QStringList passwordsIn(const QString& database) {
    QStringList secrets;
    static const QRegularExpression keyword(uR"(password\s*=\s*(?:'((?:[^'\\]|\\.)*)'?|([^\s&#]+)))"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    for (auto it = keyword.globalMatch(database); it.hasNext();) {
        const auto match = it.next();
        addSecret(secrets, match.captured(1));
        addSecret(secrets, match.captured(2));
    }
    static const QRegularExpression userInfo(uR"(^\s*postgres(?:ql)?://([^@/?#]*)@)"_s,
                                             QRegularExpression::CaseInsensitiveOption);
    if (const auto match = userInfo.match(database); match.hasMatch()) {
        const QString info = match.captured(1);
        const qsizetype colon = info.indexOf(u':');
        if (colon >= 0)
            addSecret(secrets, info.mid(colon + 1));
    }
    secrets.removeDuplicates();
    secrets.removeAll(QString());
    std::sort(secrets.begin(), secrets.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return secrets;
}

QString loginName() {
    for (const char* variable : {"USERNAME", "USER", "LOGNAME"}) {
        const QString name = qEnvironmentVariable(variable).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return QDir::home().dirName();
}

} // namespace

TeamConfig TeamConfig::fromIni(const QString& path) {
    return fromValues(iniRead(kSection, u"Database"_s, QString(), path),
                      iniRead(kSection, u"Name"_s, QString(), path));
}

QString TeamConfig::defaultName() {
    return loginName() + u'@' + QSysInfo::machineHostName();
}

TeamConfig TeamConfig::fromValues(const QString& database, const QString& name) {
    TeamConfig config;
    config.m_name = name.trimmed().isEmpty() ? defaultName() : name.trimmed();
    config.m_enabled = !database.trimmed().isEmpty();
    if (!config.m_enabled)
        return config;
    config.m_secrets = passwordsIn(database);

    char* message = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(database.toUtf8().constData(), &message);
    if (!parsed) {
        config.m_error =
            config.scrub(message ? QString::fromUtf8(message).trimmed() : u"团队库连接串无法解析"_s);
        PQfreemem(message);
        return config;
    }
    for (const PQconninfoOption* it = parsed; it->keyword; ++it) {
        if (!it->val)
            continue;
        config.m_options.append(std::pair<QByteArray, QByteArray>(it->keyword, it->val));
        if (qstrcmp(it->keyword, "password") == 0)
            config.m_secrets << QString::fromUtf8(it->val);
    }
    PQconninfoFree(parsed);
    config.m_secrets.removeDuplicates();
    config.m_secrets.removeAll(QString());
    std::sort(config.m_secrets.begin(), config.m_secrets.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });

    bool ok = false;
    const int timeout = option(config.m_options, "connect_timeout").trimmed().toInt(&ok);
    if (!ok || timeout <= 0 || timeout > kConnectTimeoutS)
        setOption(config.m_options, "connect_timeout", QByteArray::number(kConnectTimeoutS));
    setOption(config.m_options, "client_encoding", "UTF8");
    if (option(config.m_options, "fallback_application_name").isEmpty())
        setOption(config.m_options, "fallback_application_name", "vesmora");
    for (const auto& [keyword, value] : kDefaults) {
        if (option(config.m_options, keyword).isEmpty())
            setOption(config.m_options, keyword, value);
    }
    return config;
}

QString TeamConfig::scrub(const QString& message) const {
    QString text = message;
    for (const QString& secret : m_secrets)
        text.replace(secret, kMask);
    static const QRegularExpression keyword(uR"((password\s*=\s*)('(?:[^'\\]|\\.)*'?|[^\s&#"]+))"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression userInfo(uR"((postgres(?:ql)?://[^\s:/@]*:)[^\s@/]*@)"_s,
                                             QRegularExpression::CaseInsensitiveOption);
    text.replace(keyword, u"\\1"_s + kMask);
    text.replace(userInfo, u"\\1"_s + kMask + u'@');
    return text;
}
