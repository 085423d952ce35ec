#include "StoreSettings.h"

#include "AppError.h"
#include "IniFile.h"

#include <QRegularExpression>
#include <QStringList>
#include <libpq-fe.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString Section = u"Database"_s;
const QString PasswordRefused = u"Пароль в строке подключения не принимается: он берётся из ~/.pgpass "
                                u"(или файла из PGPASSFILE) либо из переменной PGPASSWORD"_s;

// A value in a libpq connection string, always quoted: libpq ends an unquoted value at any blank,
// a tab or a line break among them.
QString quoted(const QString& value) {
    QString escaped = value;
    escaped.replace(u"\\"_s, u"\\\\"_s).replace(u"'"_s, u"\\'"_s);
    return u'\'' + escaped + u'\'';
}

struct OptionsDeleter {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

} // namespace

StoreSettings StoreSettings::read(const IniFile& ini) {
    StoreSettings s;
    const QString driver = ini.readString(Section, u"Driver"_s, u"QSQLITE"_s).trimmed();
    if (driver.compare(u"QPSQL"_s, Qt::CaseInsensitive) == 0)
        s.driver = Driver::Server;
    else if (driver.isEmpty() || driver.compare(u"QSQLITE"_s, Qt::CaseInsensitive) == 0)
        return s;
    else
        throw AppError(u"Неизвестный драйвер базы данных «%1» в разделе [Database] файла kvarta.ini: "
                       u"допустимы QSQLITE и QPSQL"_s.arg(driver));
    s.host = ini.readString(Section, u"Host"_s, QString()).trimmed();
    const QString port = ini.readString(Section, u"Port"_s, QString()).trimmed();
    if (!port.isEmpty() && (!parseIniInteger(port, &s.port) || s.port <= 0 || s.port > 65535))
        throw AppError(
            u"Порт сервера базы данных «%1» в файле kvarta.ini не является числом от 1 до 65535"_s.arg(port));
    s.name = ini.readString(Section, u"Name"_s, QString()).trimmed();
    s.user = ini.readString(Section, u"User"_s, QString()).trimmed();
    s.service = ini.readString(Section, u"Service"_s, QString()).trimmed();
    return s;
}

void StoreSettings::write(IniFile& ini) const {
    ini.writeString(Section, u"Driver"_s, isServer() ? u"QPSQL"_s : u"QSQLITE"_s);
    if (!isServer())
        return;
    ini.writeString(Section, u"Host"_s, host);
    ini.writeString(Section, u"Port"_s, port > 0 ? QString::number(port) : QString());
    ini.writeString(Section, u"Name"_s, name);
    ini.writeString(Section, u"User"_s, user);
    if (!service.isEmpty())
        ini.writeString(Section, u"Service"_s, service);
}

StoreSettings StoreSettings::fromConnectionString(const QString& conninfo) {
    char* error = nullptr;
    const std::unique_ptr<PQconninfoOption, OptionsDeleter> options(
        PQconninfoParse(conninfo.toUtf8().constData(), &error));
    if (!options) {
        const QString text = error ? QString::fromUtf8(error).trimmed() : u"out of memory"_s;
        PQfreemem(error);
        // Neither the string nor libpq's text is shown when they may hold a password.
        static const QRegularExpression password(u"(^|\\s)password\\s*="_s);
        if (conninfo.contains(password))
            throw AppError(PasswordRefused);
        throw AppError(u"Строка подключения «%1» не разобрана: %2"_s.arg(conninfo, text));
    }
    StoreSettings s;
    s.driver = Driver::Server;
    QStringList others;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == u"host" || key == u"hostaddr") {
            s.host = value;
        } else if (key == u"port") {
            bool ok = false;
            s.port = value.toInt(&ok);
            if (!ok || s.port <= 0 || s.port > 65535)
                throw AppError(
                    u"Порт «%1» в строке подключения не является числом от 1 до 65535"_s.arg(value));
        } else if (key == u"dbname") {
            s.name = value;
        } else if (key == u"user") {
            s.user = value;
        } else if (key == u"service") {
            s.service = value;
        } else if (key == u"options") {
            s.serverOptions = value;
        } else if (key == u"password") {
            throw AppError(PasswordRefused);
        } else {
            others << key + u'=' + quoted(value);
        }
    }
    s.options = others.join(u' ');
    return s;
}

QString StoreSettings::connectionString(const QString& password) const {
    QStringList parts;
    if (!host.isEmpty())
        parts << u"host="_s + quoted(host);
    if (port > 0)
        parts << u"port="_s + QString::number(port);
    if (!name.isEmpty())
        parts << u"dbname="_s + quoted(name);
    if (!user.isEmpty())
        parts << u"user="_s + quoted(user);
    if (!service.isEmpty())
        parts << u"service="_s + quoted(service);
    if (!serverOptions.isEmpty())
        parts << u"options="_s + quoted(serverOptions);
    if (!options.isEmpty())
        parts << options;
    if (!password.isEmpty())
        parts << u"password="_s + quoted(password);
    return parts.join(u' ');
}

QString StoreSettings::driverOptions() const {
    QList<std::pair<QString, QString>> values;
    if (!serverOptions.isEmpty())
        values.append({u"options"_s, serverOptions});
    if (!service.isEmpty())
        values.append({u"service"_s, service});
    if (!options.isEmpty()) {
        const std::unique_ptr<PQconninfoOption, OptionsDeleter> parsed(
            PQconninfoParse(options.toUtf8().constData(), nullptr));
        if (!parsed)
            throw AppError(u"Параметры подключения «%1» не разобраны"_s.arg(options));
        for (const PQconninfoOption* o = parsed.get(); o->keyword; ++o) {
            if (o->val)
                values.append({QString::fromUtf8(o->keyword), QString::fromUtf8(o->val)});
        }
    }
    QStringList parts;
    for (const auto& [key, value] : values) {
        // The driver turns every ';' of its options into a blank, inside quotes too.
        if (value.contains(u';'))
            throw AppError(u"Значение параметра подключения «%1» не может содержать «;»: драйвер QPSQL "
                           u"разрезал бы его по этому знаку"_s.arg(key));
        parts << key + u'=' + quoted(value);
    }
    return parts.join(u';');
}

QString StoreSettings::describe() const {
    if (!isServer())
        return QString();
    QString text;
    if (!user.isEmpty())
        text += user + u'@';
    text += host.isEmpty() ? u"localhost"_s : host;
    if (port > 0)
        text += u':' + QString::number(port);
    if (!name.isEmpty())
        text += u'/' + name;
    if (!service.isEmpty())
        text += u" (service "_s + service + u')';
    return text;
}
