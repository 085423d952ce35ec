// tenemark-db: makes catalogue files for the program, empty or with demonstration data.

#include "AppError.h"
#include "Database.h"
#include "DemoCatalogue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int MaxItems = 10'000'000;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int usage(const QString& problem = QString()) {
    if (!problem.isEmpty())
        print(stderr, u"tenemark-db: "_s + problem);
    print(stderr, u"Usage:\n"
                  u"  tenemark-db create PATH\n"
                  u"      write an empty catalogue with every table\n"
                  u"  tenemark-db demo PATH [--items N] [--no-photos]\n"
                  u"      write a catalogue with directories and N items (default 200),\n"
                  u"      their rooms and, unless --no-photos, one to three photographs each\n"
                  u"Neither command overwrites an existing file."_s);
    return 2;
}

struct Command {
    QString name;
    QString path;
    DemoOptions demo;
};

// Parses the arguments; on a mistake returns nothing and `problem` says why.
std::optional<Command> parse(const QStringList& args, QString* problem) {
    if (args.size() < 2) {
        *problem = args.isEmpty() ? QString() : u"no file given"_s;
        return std::nullopt;
    }
    Command c;
    c.name = args[0];
    c.path = args[1];
    if (c.name != u"create" && c.name != u"demo") {
        *problem = u"unknown command \"%1\""_s.arg(c.name);
        return std::nullopt;
    }
    if (c.path.startsWith(u"--")) {
        *problem = u"no file given"_s;
        return std::nullopt;
    }
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString& a = args[i];
        if (c.name == u"demo" && a == u"--no-photos") {
            c.demo.photos = false;
        } else if (c.name == u"demo" && a == u"--items") {
            bool ok = false;
            const int n = i + 1 < args.size() ? args[i + 1].toInt(&ok) : 0;
            if (!ok || n < 0 || n > MaxItems) {
                *problem = u"--items needs a whole number from 0 to %1"_s.arg(MaxItems);
                return std::nullopt;
            }
            c.demo.items = n;
            ++i;
        } else {
            *problem = u"unexpected argument \"%1\""_s.arg(a);
            return std::nullopt;
        }
    }
    return c;
}

// The file being written; removed again unless the command finishes.
class NewFile {
public:
    explicit NewFile(QString path) : m_path(std::move(path)) {}
    ~NewFile() {
        if (m_kept)
            return;
        QFile::remove(m_path);
        QFile::remove(m_path + u"-journal"_s);
    }
    void keep() { m_kept = true; }

private:
    QString m_path;
    bool m_kept = false;
};

int run(const Command& c) {
    if (QFileInfo::exists(c.path)) {
        print(stderr, u"tenemark-db: %1 already exists; it is left as it is."_s.arg(c.path));
        return 1;
    }
    try {
        NewFile file(c.path);
        Database::createSchema(c.path);
        if (c.name == u"demo") {
            Database::open(c.path);
            writeDemoCatalogue(c.demo);
            Database::close();
            print(stdout, u"%1: %2 items%3"_s.arg(c.path)
                              .arg(c.demo.items)
                              .arg(c.demo.photos ? u" with photographs"_s : QString()));
        } else {
            print(stdout, u"%1: empty catalogue"_s.arg(c.path));
        }
        file.keep();
        return 0;
    } catch (const AppError& e) {
        Database::close();
        print(stderr, u"tenemark-db: "_s + e.text());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        usage();
        return 0;
    }
    QString problem;
    const std::optional<Command> command = parse(args, &problem);
    if (!command)
        return usage(problem);
    return run(*command);
}
