#pragma once

#include <QString>

class IniFile;

// Where the catalogue lives: the file db.MyDB beside the program (the default), or a database on a
// PostgreSQL server. Read from the section [Database] of kvarta.ini:
//
//   [Database]
//   Driver=QPSQL        ; QSQLITE (the default) or QPSQL
//   Host=192.168.1.10   ; the server's address; empty for libpq's default
//   Port=5432           ; empty for libpq's default
//   Name=tenemark       ; the database
//   User=agent          ; the server's user
//   Service=            ; optional: a service of pg_service.conf instead of the keys above
//
// The password is never kept here: libpq reads ~/.pgpass (or PGPASSFILE) and the service file
// itself, and otherwise the program asks for it at start-up. Empty keys leave libpq's own defaults
// (its PG* environment variables among them).
struct StoreSettings {
    enum class Driver { File, Server };

    Driver driver = Driver::File;
    QString host;
    int port = 0; // 0: libpq's default
    QString name;
    QString user;
    QString service;
    QString serverOptions; // libpq's "options": settings for the session, as "-c search_path=agency"
    QString options;       // further libpq keywords, "key=value" separated by blanks (sslmode=require, ...)

    bool isServer() const { return driver == Driver::Server; }

    // The section [Database]; no section means the file. Throws AppError for a driver it does not know
    // or a port that is not a number.
    static StoreSettings read(const IniFile& ini);
    // Writes the section, password aside (the settings are the program's own file; tests use it).
    void write(IniFile& ini) const;

    // A libpq connection string ("host=... dbname=... user=..."), the form the database tool takes.
    // Throws AppError with libpq's text when it does not parse.
    static StoreSettings fromConnectionString(const QString& conninfo);
    // The same settings as a libpq connection string, every value quoted, with `password` when it
    // is not empty.
    QString connectionString(const QString& password = QString()) const;

    // The options that Qt's QPSQL driver passes on beside host, port, database, user and password
    // (which it quotes itself): "key='value'" joined by ';'. Throws AppError naming the key when a
    // value holds ';', which the driver would turn into a blank and so cut the value.
    QString driverOptions() const;

    // "agent@192.168.1.10:5432/tenemark" for messages; the parts left to libpq are left out.
    QString describe() const;
};
