// The program's windows on a catalogue on a PostgreSQL server: an item created and edited in the
// card, the list filtered and sorted, rooms, slides, the password and its lock, the detailed report
// and the delete, as the operator does them, with the values checked where the operator sees them
// and in the server's tables.
#include "Dialogs.h"
#include "ItemDetailsPanel.h"
#include "ItemListModel.h"
#include "RoomsEditor.h"
#include "RoomsModel.h"
#include "ShellLaunch.h"
#include "SlideStore.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "StatusPanels.h"
#include "TAboutForm.h"
#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"
#include "TKvartaFilterForm.h"
#include "TMainForm.h"
#include "TRepForm.h"
#include "TTableViewForm.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "Windows1251.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

template <class T> T* control(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QLatin1StringView(name));
    if (!widget)
        qFatal("control %s not found", name);
    return widget;
}

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void choose(QWidget* window, const char* combo, const QString& text) {
    QComboBox* box = control<QComboBox>(window, combo);
    const int index = box->findText(text);
    if (index < 0)
        qFatal("%s has no entry %s", combo, qPrintable(text));
    box->setCurrentIndex(index);
}

// The windows of the program as its start creates them, on the connection the catalogue opened.
struct Program {
    TempCatalogue catalogue;
    std::unique_ptr<TMainForm> main;
    TDirectoryForm* directory = nullptr;
    TKvartaEditForm* card = nullptr;
    TAboutForm* about = nullptr;

    Program() {
        catalogue.addEntries(u"grupy"_s, {u"Продажа"_s, u"Обмен"_s, u"Аренда"_s});
        catalogue.addEntries(u"rajony"_s, {u"Центр"_s, u"Юг"_s});
        // Group, price, floor and the registration date.
        catalogue.writeFile(u"fields.ini"_s, "[Checked]\nField1=1\nField20=1\nField10=1\nField0=1\n");
        main = std::make_unique<TMainForm>();
        TMainForm* m = main.get();
        auto* tableView = new TTableViewForm(m);
        about = new TAboutForm([m]() -> StoreQuery& { return m->mainQuery(); }, m);
        directory = new TDirectoryForm(m);
        auto* filter = new TKvartaFilterForm(directory, m);
        card = new TKvartaEditForm(directory, m);
        card->setPasswordQuery([m]() -> StoreQuery& { return m->mainQuery(); });
        auto* report = new TRepForm(m);
        m->setReportForm(report);
        m->setWindows(tableView, directory, filter, card);
        m->LoadSettings();
        m->show();
    }
    ~Program() { main.reset(); }

    ItemListModel& model() { return *main->itemModel(); }
    // The visible column with this caption.
    int column(const QString& caption) {
        for (int c = 0; c < model().columnCount(); ++c)
            if (model().headerData(c, Qt::Horizontal).toString() == caption)
                return c;
        qFatal("no column %s", qPrintable(caption));
    }
    // One column of the list as shown, top to bottom.
    QStringList cells(const QString& caption) {
        QStringList texts;
        for (int r = 0; r < model().rowCount(); ++r)
            texts << model().index(r, column(caption)).data().toString();
        return texts;
    }
    QString count() { return main->statusBar()->panelText(0); }
    void select(int id) { main->itemList()->selectRow(model().rowOfId(id)); }
    QString stored(const QString& sql) { return catalogue.scalar(sql).toString(); }
};

// A new item through the card, as typed.
void newItem(Program& p, const QString& group, const QString& floor, const QString& price) {
    onNextModal([&](QWidget* w) {
        choose(w, "GrupaCB", group);
        choose(w, "RajonCB", u"Юг"_s);
        typeInto(control<QLineEdit>(w, "EtazhEdit"), floor);
        typeInto(control<QLineEdit>(w, "EtazhnostEdit"), u"9"_s);
        typeInto(control<QLineEdit>(w, "PloshadEdit"), u"54,5"_s);
        typeInto(control<QLineEdit>(w, "StoimostEdit"), price);
        typeInto(control<QLineEdit>(w, "DolgEdit"), u"0"_s);
        control<QPlainTextEdit>(w, "KontaktInfMemo")->setPlainText(u"тел. 555-12-34"_s);
        control<QPushButton>(w, "OkBtn")->click();
    });
    control<QToolButton>(p.main.get(), "SpeedButton5")->click();
}

} // namespace

class TestServerWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        QLocale::setDefault(QLocale(u"ru_RU"_s));
        DialogsTestSeam::clear();
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunchTestSeam::clear();
    }
    void cleanup() {
        QLocale::setDefault(QLocale::c());
        DialogsTestSeam::clear();
    }

    void createFilterSortAndEdit() {
        Program p;
        QVERIFY(p.catalogue.isServer());
        QCOMPARE(p.count(), u"Отобрано записей: 0"_s);
        newItem(p, u"Обмен"_s, u"3"_s, u"1234567,8912"_s);
        newItem(p, u"Продажа"_s, u"12"_s, u"100"_s);
        const int bare = p.catalogue.addItem({{u"etazh"_s, 1}});     // no group: null
        control<QToolButton>(p.main.get(), "SpeedButton7")->click(); // refresh

        // Values converted from the regional form, stored in the server's types.
        QCOMPARE(p.stored(u"select count(*) from items"_s), u"3"_s);
        QCOMPARE(p.stored(u"select stoim::text from items where grupa = 'Обмен'"_s), u"1234567.8912"_s);
        QCOMPARE(p.stored(u"select obsh_plosh::text from items where grupa = 'Обмен'"_s), u"54.5"_s);
        QCOMPARE(p.stored(u"select kontakt_inf from items where grupa = 'Обмен'"_s), u"тел. 555-12-34"_s);
        QVERIFY(p.stored(u"select date_reg::text from items where grupa = 'Обмен'"_s)
                    .startsWith(QDate::currentDate().toString(u"yyyy-MM-dd"_s)));

        // Sorted by the first column, the date, going up: the item without a date first, as on
        // the file.
        QCOMPARE(p.main->sortColumn(), 0);
        QCOMPARE(p.column(u"Дата рег."_s), 0);
        QCOMPARE(p.cells(u"Группа"_s), (QStringList{QString(), u"Обмен"_s, u"Продажа"_s}));
        QCOMPARE(p.cells(u"Дата рег."_s).first(), QString());

        // By group: nulls first going up, last going down.
        p.main->ItemsLVColumnClick(p.column(u"Группа"_s));
        QCOMPARE(p.cells(u"Группа"_s), (QStringList{QString(), u"Обмен"_s, u"Продажа"_s}));
        QCOMPARE(p.cells(u"Стоимость"_s), (QStringList{QString(), u"1234567,8912"_s, u"100"_s}));
        p.main->ItemsLVColumnClick(p.column(u"Группа"_s));
        QCOMPARE(p.cells(u"Группа"_s), (QStringList{u"Продажа"_s, u"Обмен"_s, QString()}));
        // By floor: as numbers, not as texts.
        p.main->ItemsLVColumnClick(p.column(u"Этаж"_s));
        QCOMPARE(p.cells(u"Этаж"_s), (QStringList{u"1"_s, u"3"_s, u"12"_s}));
        // By price: as money.
        p.main->ItemsLVColumnClick(p.column(u"Стоимость"_s));
        QCOMPARE(p.cells(u"Стоимость"_s), (QStringList{QString(), u"100"_s, u"1234567,8912"_s}));

        // The quick filter.
        choose(p.main.get(), "GroupCB", u"Обмен"_s);
        QCOMPARE(p.count(), u"Отобрано записей: 1"_s);
        QCOMPARE(p.cells(u"Группа"_s), QStringList{u"Обмен"_s});
        choose(p.main.get(), "GroupCB", u"<Не фильтровать>"_s);
        QCOMPARE(p.count(), u"Отобрано записей: 3"_s);

        // Edited in the card: the debt, typed in the regional form.
        const int id = p.stored(u"select id from items where grupa = 'Обмен'"_s).toInt();
        p.select(id);
        onNextModal([&](QWidget* w) {
            QCOMPARE(control<QLineEdit>(w, "StoimostEdit")->text(), u"1234567,8912"_s);
            QCOMPARE(control<QComboBox>(w, "GrupaCB")->currentText(), u"Обмен"_s);
            typeInto(control<QLineEdit>(w, "DolgEdit"), u"12,5"_s);
            control<QPushButton>(w, "OkBtn")->click();
        });
        control<QToolButton>(p.main.get(), "SpeedButton4")->click();
        QCOMPARE(p.stored(u"select dolg::text from items where id = %1"_s.arg(id)), u"12.5000"_s);
        QCOMPARE(p.stored(u"select stoim::text from items where id = %1"_s.arg(id)), u"1234567.8912"_s);
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
        QCOMPARE(p.stored(u"select grupa from items where id = %1"_s.arg(bare)), QString());
    }

    // The server stops and starts again under the running program: meanwhile the refresh says so
    // and the status bar shows it; once the server is back the list and the card work as before.
    void serverRestartsUnderTheProgram() {
        Program p;
        const int id = p.catalogue.addItem({{u"grupa"_s, u"Продажа"_s},
                                            {u"etazh"_s, 2},
                                            {u"etazhnost"_s, 9},
                                            {u"obsh_plosh"_s, 40.0},
                                            {u"stoim"_s, 0},
                                            {u"dolg"_s, 0}});
        QToolButton* refresh = control<QToolButton>(p.main.get(), "SpeedButton7");
        refresh->click();
        TestServer::instance()->stop();
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        refresh->click();
        QVERIFY2(DialogsTestSeam::last().text.startsWith(
                     u"Нет связи с сервером базы данных %1, действие не выполнено: "_s.arg(
                         p.catalogue.settings().describe())),
                 qPrintable(DialogsTestSeam::last().text));
        QCOMPARE(p.main->statusBar()->note(), u"Нет связи с сервером"_s);
        QVERIFY(TestServer::instance()->restart());
        DialogsTestSeam::clear();
        refresh->click();
        QCOMPARE(p.main->statusBar()->note(), QString());
        p.select(id);
        onNextModal([](QWidget* w) {
            typeInto(control<QLineEdit>(w, "EtazhEdit"), u"7"_s);
            control<QPushButton>(w, "OkBtn")->click();
        });
        control<QToolButton>(p.main.get(), "SpeedButton4")->click();
        QCOMPARE(p.stored(u"select etazh from items where id = %1"_s.arg(id)), u"7"_s);
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
    }

    void roomsSlidesPasswordReportAndDelete() {
        Program p;
        newItem(p, u"Аренда"_s, u"2"_s, u"5000"_s);
        const int id = p.stored(u"select max(id) from items"_s).toInt();
        QByteArray picture;
        for (int b = 0; b < 256; ++b)
            picture.append(char(255 - b));
        {
            StoreQuery q;
            SlideStore::insertSlide(q, id, u".jpg"_s, picture);
            SlideStore::insertSlide(q, id, u".bmp"_s, QByteArray("BM"));
        }

        // Rooms typed into the card's grid and summed; the card sees its slides.
        onNextModal([&](QWidget* w) {
            RoomsModel& rooms = *p.card->rooms()->model();
            QVERIFY(rooms.isOpen());
            for (const auto& [name, area] :
                 {std::pair{u"Кухня"_s, u"9,5"_s}, std::pair{u"Спальня"_s, u"14"_s}}) {
                rooms.insertRoom(rooms.rowCount());
                QVERIFY(rooms.setData(rooms.index(rooms.editRow(), rooms.nameColumn()), name));
                QVERIFY(rooms.setData(rooms.index(rooms.editRow(), rooms.areaColumn()), area));
                QVERIFY(rooms.post().has_value());
            }
            QCOMPARE(rooms.rowCount(), 2);
            QCOMPARE(rooms.index(0, rooms.nameColumn()).data().toString(), u"Кухня"_s);
            QCOMPARE(rooms.index(1, rooms.areaColumn()).data().toString(), u"14"_s);
            control<QPushButton>(w, "BitBtn3")->click();
            QCOMPARE(control<QLineEdit>(w, "PloshadEdit")->text(), u"23,50"_s);
            QCOMPARE(p.card->slidesPage()->strip()->count(), 2);
            control<QPushButton>(w, "CancelBtn")->click();
        });
        QVERIFY(!p.card->OpenForEdit(id));
        QCOMPARE(p.stored(u"select string_agg(roomname || '=' || p, ',' order by roomname) from rooms "
                          u"where items_id = %1"_s.arg(id)),
                 u"Кухня=9.5,Спальня=14"_s);

        // The details panel shows the slides of the clicked row.
        p.select(id);
        p.main->ShowItemSlides(id);

        // The access password set in the About box, then asked for by the card's lock.
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"Секрет"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"Секрет"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        control<QPushButton>(p.about, "SetPwlBtn")->click();
        QCOMPARE(p.stored(u"select string_agg(pwl_value, ',') from pwl_cell"_s), u"Секрет"_s);
        QVERIFY(p.card->isContactLocked());
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"Секрет"_s);
        p.card->UnLockBtnClick();
        QVERIFY(!p.card->isContactLocked());

        // The detailed report of the selected item, in windows-1251.
        control<QToolButton>(p.main.get(), "SpeedButton9")->click();
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 1);
        QFile page(ShellLaunchTestSeam::launches().first().target);
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
        const QString html = Windows1251::decode(page.readAll());
        QVERIFY2(html.contains(u"Аренда"_s), qPrintable(html.left(2000)));
        QVERIFY(html.contains(u"5000"_s));

        // Deleted with its rooms and slides.
        p.select(id);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Yes);
        control<QToolButton>(p.main.get(), "SpeedButton6")->click();
        QCOMPARE(p.stored(u"select count(*) from items"_s), u"0"_s);
        QCOMPARE(p.stored(u"select count(*) from rooms"_s), u"0"_s);
        QCOMPARE(p.stored(u"select count(*) from slides"_s), u"0"_s);
        QCOMPARE(p.model().rowCount(), 0);
    }
};

QTEST_MAIN(TestServerWindows)
#include "tst_serverwindows.moc"
