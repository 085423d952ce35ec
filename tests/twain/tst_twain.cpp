// The component against the recording manager: the calls it makes, in which order, with which
// values, and what it does with every answer.

#include "AppPaths.h"
#include "Dialogs.h"
#include "ModalWatch.h"
#include "TTWAIN.h"
#include "TestDib.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QLineEdit>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString RecorderPath = QString::fromUtf8(TWAIN_RECORDER);
const QString NoEntryPath = QString::fromUtf8(TWAIN_NO_ENTRY);

// The recording manager, kept loaded by the test so that its log outlives the component's
// unloading.
class Recorder {
public:
    Recorder() : m_lib(RecorderPath) {
        if (!m_lib.load())
            qFatal("recording manager not loaded: %s", qPrintable(m_lib.errorString()));
        m_reset = resolve<void (*)()>("RecorderReset");
        m_log = resolve<const char* (*)()>("RecorderLog");
        m_clear = resolve<void (*)()>("RecorderClearLog");
        m_ordinary = resolve<int (*)()>("RecorderOrdinaryEvents");
        answer = resolve<void (*)(TW_UINT32, TW_UINT16, TW_UINT16, TW_UINT16, TW_UINT16)>("RecorderAnswer");
        queueMessage = resolve<void (*)(TW_UINT16)>("RecorderQueueMessage");
        setPending = resolve<void (*)(TW_UINT16)>("RecorderSetPending");
        m_setImage = resolve<void (*)(const unsigned char*, int)>("RecorderSetImage");
        setStatusFails = resolve<void (*)(bool)>("RecorderSetStatusFails");
        setOrdinaryEventAnswer = resolve<void (*)(TW_UINT16)>("RecorderSetOrdinaryEventAnswer");
        m_reset();
    }
    QStringList log() const { return QString::fromUtf8(m_log()).split(u'\n', Qt::SkipEmptyParts); }
    void clearLog() { m_clear(); }
    int ordinaryEvents() const { return m_ordinary(); }
    void setImage(const QByteArray& dib) {
        m_setImage(reinterpret_cast<const unsigned char*>(dib.constData()), int(dib.size()));
    }

    void (*answer)(TW_UINT32, TW_UINT16, TW_UINT16, TW_UINT16, TW_UINT16) = nullptr;
    void (*queueMessage)(TW_UINT16) = nullptr;
    void (*setPending)(TW_UINT16) = nullptr;
    void (*setStatusFails)(bool) = nullptr;
    void (*setOrdinaryEventAnswer)(TW_UINT16) = nullptr;

private:
    template <class F> F resolve(const char* name) {
        auto f = reinterpret_cast<F>(m_lib.resolve(name));
        if (!f)
            qFatal("%s missing", name);
        return f;
    }
    QLibrary m_lib;
    void (*m_reset)() = nullptr;
    const char* (*m_log)() = nullptr;
    void (*m_clear)() = nullptr;
    int (*m_ordinary)() = nullptr;
    void (*m_setImage)(const unsigned char*, int) = nullptr;
};

// A component that lets the tests reach its protected state.
class OpenTwain : public TTWAIN {
public:
    using TTWAIN::AppIdentity;
    using TTWAIN::ProcessMessage;
};

QString pid() {
    return QString::number(QCoreApplication::applicationPid());
}

// A 2 x 2 colour picture as the recorder delivers it.
QByteArray smallDib() {
    DibShape shape;
    shape.width = 2;
    shape.height = 2;
    return buildDib(shape, [](int y, unsigned char* row) {
        row[0] = y == 0 ? 0 : 255; // top row: red, green; bottom row: blue, white
        row[2] = y == 0 ? 255 : 0;
        row[3 + 1] = 255;
        row[3 + 2] = y == 0 ? 0 : 255;
        row[3] = y == 0 ? 0 : 255;
    });
}

QString failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const AppError& e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestTwain : public QObject {
    Q_OBJECT

    std::unique_ptr<Recorder> rec;
    std::unique_ptr<OpenTwain> twain;
    std::unique_ptr<ModalWatch> watch;
    QImage bitmap;
    int scanReady = 0;
    QStringList logAtScanReady;

    // The card's settings.
    void makeTwain() {
        twain = std::make_unique<OpenTwain>();
        twain->setManagerLibrary(RecorderPath);
        twain->setDestination(TTWAIN::xfMemory);
        twain->setShowUI(true);
        twain->setFileFormat(TTWAIN::ffBMP);
        twain->setLanguage(TTWAIN::lgAmerican);
        twain->setCountry(TTWAIN::ctRussia);
        twain->setVersionInfo(u"Twain component"_s);
        twain->setVersionMajor(1);
        twain->setVersionMinor(0);
        twain->setProductname(u"Tenemark"_s);
        twain->setManufacturer(u"Agency"_s);
        twain->setProductFamily(u"Catalogue"_s);
        twain->setOnScanReady([this](TTWAIN* sender) {
            QCOMPARE(sender, twain.get());
            ++scanReady;
            logAtScanReady = rec->log();
        });
    }

    QStringList openingLines() const {
        return {
            u"app Id=%1 Version=1.0 Language=13 Country=7 Info=\"Twain component\" Protocol=1.7 Groups=3 "
            u"Manufacturer=\"Agency\" Family=\"Catalogue\" Product=\"Tenemark\""_s.arg(pid()),
            u"DSM DG_CONTROL/DAT_PARENT/MSG_OPENDSM parent=%1 => SUCCESS"_s.arg(pid()),
        };
    }
    QStringList acquireLines(const QString& sourceBefore = u"Id=0 Product=\"\""_s, int showUI = 65535) const {
        return {
            u"DSM DG_CONTROL/DAT_IDENTITY/MSG_OPENDS source=[%1] => SUCCESS"_s.arg(sourceBefore),
            u"DS DG_CONTROL/DAT_CAPABILITY/MSG_SET Cap=0x0103 ConType=5 ItemType=4 Item=0 => SUCCESS"_s,
            u"DS DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS ShowUI=%1 ModalUI=65535 hParent=%2 => SUCCESS"_s
                .arg(showUI)
                .arg(pid()),
        };
    }
    QStringList closingLines() const {
        return {
            u"DS DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS ShowUI=65535 ModalUI=0 hParent=%1 => SUCCESS"_s
                .arg(pid()),
            u"DSM DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS source=[Id=7 Product=\"Recorder\"] => SUCCESS"_s,
        };
    }

    void expectFlags(bool manager, bool source, bool enabled) {
        QCOMPARE(twain->IsDataSourceManagerOpen(), manager);
        QCOMPARE(twain->IsDataSourceOpen(), source);
        QCOMPARE(twain->IsDataSourceEnabled(), enabled);
    }

private Q_SLOTS:
    void initTestCase() { AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR)); }

    void init() {
        rec = std::make_unique<Recorder>();
        watch = std::make_unique<ModalWatch>();
        bitmap = QImage();
        scanReady = 0;
        logAtScanReady.clear();
        DialogsTestSeam::clear();
        makeTwain();
    }
    void cleanup() {
        twain.reset();
        QCOMPARE(watch->unexpected(), QStringList());
        QCOMPARE(DialogsTestSeam::pendingAnswers(), 0);
        rec.reset();
    }

    void defaultsAtCreation() {
        TTWAIN fresh;
        QCOMPARE(fresh.destination(), TTWAIN::xfNative);
        QCOMPARE(fresh.language(), TTWAIN::lgAmerican);
        QCOMPARE(fresh.appIdentity().Version.Language, TW_UINT16(13));
        QCOMPARE(fresh.country(), TTWAIN::ctUSA);
        QCOMPARE(fresh.appIdentity().Version.Country, TW_UINT16(1));
        QCOMPARE(fresh.showUI(), true);
        QCOMPARE(fresh.fileFormat(), TTWAIN::ffBMP);
        QCOMPARE(fresh.filename(), u"C:\\TWAIN.BMP"_s);
        QCOMPARE(fresh.versionInfo(), u"Twain component"_s);
        QCOMPARE(fresh.versionMajor(), quint16(1));
        QCOMPARE(fresh.versionMinor(), quint16(0));
        QCOMPARE(fresh.productname(), u"Tenemark scanning"_s);
        QCOMPARE(fresh.manufacturer(), u"Tenemark"_s);
        QCOMPARE(fresh.productFamily(), u"Tenemark components"_s);
        QCOMPARE(fresh.cursor(), Qt::ArrowCursor);
        QCOMPARE(fresh.IsDataSourceManagerOpen(), false);
        QCOMPARE(fresh.IsDataSourceOpen(), false);
        QCOMPARE(fresh.IsDataSourceEnabled(), false);
        QCOMPARE(fresh.isManagerLoaded(), false);
        QCOMPARE(fresh.appIdentity().Id, TW_UINT32(0));
        const TW_IDENTITY zero{};
        QCOMPARE(std::memcmp(&fresh.sourceIdentity(), &zero, sizeof zero), 0);
        // The project's manager beside the executable (here: the folder the build puts it in).
        QCOMPARE(fresh.managerLibrary(),
                 QString::fromUtf8(TENEMARK_RUNTIME_DIR) + u"/libtenemark-twaindsm.so"_s);
        QCOMPARE(fresh.twainDriverFound(), true);
        fresh.setManagerLibrary(u"/nonexistent/libnothing.so"_s);
        QCOMPARE(fresh.twainDriverFound(), false);
    }

    void textsAreTruncated() {
        const QString forty = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd"_s;
        twain->setManufacturer(forty);
        QCOMPARE(twain->manufacturer(), forty.left(32));
        QCOMPARE(twain->appIdentity().Manufacturer.text[32], '\0');
        twain->setManufacturer(u"Short"_s); // the rest of the field is cleared
        QCOMPARE(twain->manufacturer(), u"Short"_s);
        QCOMPARE(twain->appIdentity().Manufacturer.text[6], '\0');
        twain->setProductname(forty);
        QCOMPARE(twain->productname(), forty.left(32));
        twain->setProductFamily(forty);
        QCOMPARE(twain->productFamily(), forty.left(32));
        twain->setVersionInfo(forty);
        QCOMPARE(twain->versionInfo(), forty.left(32));
        const QString longName = u"C:\\"_s + QString(300, u'x');
        twain->setFilename(longName);
        QCOMPARE(twain->filename(), longName.left(255));
    }

    void enumerationsAndCodes() {
        twain->setFileFormat(TTWAIN::ffPNG);
        QCOMPARE(twain->fileFormat(), TTWAIN::ffPNG);
        twain->setFileFormat(TTWAIN::ffUNKNOWN); // stored as BMP
        QCOMPARE(twain->fileFormat(), TTWAIN::ffBMP);
        twain->setFileFormat(TTWAIN::ffEXIF);
        QCOMPARE(twain->fileFormat(), TTWAIN::ffEXIF);

        const std::pair<TTWAIN::TLanguageType, int> languages[] = {
            {TTWAIN::lgDutch, 1},    {TTWAIN::lgEnglish, 2},   {TTWAIN::lgFrench, 5},
            {TTWAIN::lgGerman, 6},   {TTWAIN::lgAmerican, 13}, {TTWAIN::lgItalian, 8},
            {TTWAIN::lgSpanish, 11}, {TTWAIN::lgNorwegian, 9}, {TTWAIN::lgFinnish, 4},
            {TTWAIN::lgDanish, 0},   {TTWAIN::lgRussian, 78},  {TTWAIN::lgPortuguese, 10},
            {TTWAIN::lgSwedish, 12}, {TTWAIN::lgPolish, 75},   {TTWAIN::lgGreek, 63},
            {TTWAIN::lgTurkish, 85}};
        for (auto [language, code] : languages) {
            twain->setLanguage(language);
            QCOMPARE(twain->appIdentity().Version.Language, TW_UINT16(code));
            QCOMPARE(twain->language(), language);
        }
        const std::pair<TTWAIN::TCountryType, int> countries[] = {
            {TTWAIN::ctNetherlands, 31}, {TTWAIN::ctEngland, 6},  {TTWAIN::ctFrance, 33},
            {TTWAIN::ctGermany, 49},     {TTWAIN::ctUSA, 1},      {TTWAIN::ctSpain, 34},
            {TTWAIN::ctItaly, 39},       {TTWAIN::ctDenmark, 45}, {TTWAIN::ctFinland, 358},
            {TTWAIN::ctNorway, 47},      {TTWAIN::ctRussia, 7},   {TTWAIN::ctPortugal, 351},
            {TTWAIN::ctSweden, 46},      {TTWAIN::ctPoland, 48},  {TTWAIN::ctGreece, 30},
            {TTWAIN::ctTurkey, 90}};
        for (auto [country, code] : countries) {
            twain->setCountry(country);
            QCOMPARE(twain->appIdentity().Version.Country, TW_UINT16(code));
            QCOMPARE(twain->country(), country);
        }
        // Codes outside the table read as the first members.
        twain->AppIdentity.Version.Language = 3;
        twain->AppIdentity.Version.Country = 2;
        QCOMPARE(twain->language(), TTWAIN::lgDutch);
        QCOMPARE(twain->country(), TTWAIN::ctNetherlands);
    }

    void cursorIsTheApplications() {
        twain->setCursor(Qt::WaitCursor);
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QCOMPARE(twain->cursor(), Qt::WaitCursor);
        twain->setCursor(Qt::ArrowCursor);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(twain->cursor(), Qt::ArrowCursor);
    }

    void oneScanFromStartToEnd() {
        rec->setImage(smallDib());
        twain->Initialize();
        QCOMPARE(rec->log(), openingLines());
        expectFlags(true, false, false);

        twain->Acquire(&bitmap);
        QCOMPARE(twain->destination(), TTWAIN::xfNative); // whatever it held before
        expectFlags(true, true, true);
        rec->queueMessage(MSG_XFERREADY);
        QTRY_COMPARE(scanReady, 1);

        QStringList expected = openingLines() + acquireLines();
        expected << u"DS DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT -> MSG_XFERREADY"_s
                 << u"DS DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET => XFERDONE"_s
                 << u"DS DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> Count=0 => SUCCESS"_s;
        expected += closingLines();
        QCOMPARE(logAtScanReady, expected); // OnScanReady comes after the source is closed
        expectFlags(true, false, false);
        QVERIFY(twain->imageTransferred());
        QCOMPARE(bitmap.size(), QSize(2, 2));
        QCOMPARE(bitmap.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(bitmap.pixel(1, 0), qRgb(0, 255, 0));
        QCOMPARE(bitmap.pixel(0, 1), qRgb(0, 0, 255));
        QCOMPARE(bitmap.pixel(1, 1), qRgb(255, 255, 255));
        QCOMPARE(twain->sourceIdentity().Id, TW_UINT32(7));

        // The next scan asks for the same source again; the manager stays open.
        rec->clearLog();
        twain->Acquire(&bitmap);
        QCOMPARE(rec->log(), acquireLines(u"Id=7 Product=\"Recorder\""_s));
    }

    void withoutTheSourcesDialog() {
        twain->setShowUI(false);
        twain->Initialize();
        twain->Acquire(&bitmap);
        QCOMPARE(rec->log(), openingLines() + acquireLines(u"Id=0 Product=\"\""_s, 0));
    }

    void morePagesAreReset() {
        rec->setImage(smallDib());
        rec->setPending(2);
        twain->Initialize();
        twain->Acquire(&bitmap);
        rec->clearLog();
        rec->queueMessage(MSG_XFERREADY);
        QTRY_COMPARE(scanReady, 1);
        QStringList expected = {u"DS DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT -> MSG_XFERREADY"_s,
                                u"DS DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET => XFERDONE"_s,
                                u"DS DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> Count=2 => SUCCESS"_s,
                                u"DS DG_CONTROL/DAT_PENDINGXFERS/MSG_RESET -> Count=0 => SUCCESS"_s};
        expected += closingLines();
        QCOMPARE(rec->log(), expected);
        QCOMPARE(bitmap.size(), QSize(2, 2));
        QCOMPARE(scanReady, 1);
    }

    void closedDialogDeliversNothing_data() {
        QTest::addColumn<int>("message");
        QTest::newRow("close request") << int(MSG_CLOSEDSREQ);
        QTest::newRow("close ok") << int(MSG_CLOSEDSOK);
    }
    void closedDialogDeliversNothing() {
        QFETCH(int, message);
        bitmap = QImage(4, 3, QImage::Format_RGB32);
        bitmap.fill(Qt::yellow);
        twain->Initialize();
        twain->Acquire(&bitmap);
        rec->clearLog();
        rec->queueMessage(TW_UINT16(message));
        QTRY_COMPARE(scanReady, 1);
        const QString name = message == MSG_CLOSEDSREQ ? u"MSG_CLOSEDSREQ"_s : u"MSG_CLOSEDSOK"_s;
        QCOMPARE(logAtScanReady,
                 QStringList{u"DS DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT -> "_s + name} + closingLines());
        QVERIFY(!twain->imageTransferred());
        QCOMPARE(bitmap.size(), QSize(4, 3));
        QCOMPARE(bitmap.pixel(1, 1), QColor(Qt::yellow).rgb());
        expectFlags(true, false, false);

        // Pressing scan again opens the source anew.
        rec->clearLog();
        twain->Acquire(&bitmap);
        QCOMPARE(rec->log(), acquireLines(u"Id=7 Product=\"Recorder\""_s));
    }

    void ordinaryEventsReachTheirWidgets() {
        QLineEdit edit;
        edit.show();
        twain->Initialize();
        twain->Acquire(&bitmap);
        const int before = rec->ordinaryEvents();
        QTest::keyClicks(&edit, u"abc"_s);
        QCOMPARE(edit.text(), u"abc"_s);
        QVERIFY(rec->ordinaryEvents() >= before + 6); // each press and release went to the source first

        // A source that claims every event keeps it from being dispatched.
        rec->setOrdinaryEventAnswer(TWRC_DSEVENT);
        QTest::keyClicks(&edit, u"de"_s);
        QCOMPARE(edit.text(), u"abc"_s);
        rec->setOrdinaryEventAnswer(TWRC_NOTDSEVENT);
    }

    void destructionClosesInOrder() {
        twain->Initialize();
        twain->Acquire(&bitmap);
        rec->clearLog();
        twain.reset();
        QCOMPARE(
            rec->log(),
            closingLines() +
                QStringList{u"DSM DG_CONTROL/DAT_PARENT/MSG_CLOSEDSM parent=%1 => SUCCESS"_s.arg(pid())});
        // The application's events no longer pass through it.
        const int before = rec->ordinaryEvents();
        QLineEdit edit;
        QTest::keyClicks(&edit, u"x"_s);
        QCOMPARE(rec->ordinaryEvents(), before);
    }

    void missingLibrary() {
        twain->setManagerLibrary(u"/nonexistent/libnothing.so"_s);
        QCOMPARE(failureOf([&] { twain->Initialize(); }),
                 u"Unable to load or find: /nonexistent/libnothing.so"_s);
        expectFlags(false, false, false);
        QVERIFY(!twain->isManagerLoaded());
    }

    void libraryWithoutEntry() {
        twain->setManagerLibrary(NoEntryPath);
        QCOMPARE(failureOf([&] { twain->Initialize(); }), u"Assertion failure"_s);
        QVERIFY(twain->isManagerLoaded());
        expectFlags(false, false, false);
    }

    void preconditions() {
        QCOMPARE(failureOf([&] { twain->OpenDataSourceManager(); }), u"Assertion failure"_s); // no Initialize
        QCOMPARE(failureOf([&] { twain->OpenDataSource(); }), u"Data Source Manager must be open"_s);
        QCOMPARE(failureOf([&] { twain->CloseDataSource(); }), u"Data Source Manager must be open"_s);
        QCOMPARE(failureOf([&] { twain->EnableDataSource(); }), u"Data Source must be open"_s);
        QCOMPARE(failureOf([&] { twain->DisableDataSource(); }), u"Data Source must be open"_s);
        twain->Initialize();
        twain->OpenDataSource();
        rec->clearLog();
        QCOMPARE(failureOf([&] { twain->CloseDataSourceManager(); }),
                 u"Unable to close the Data Source Manager. Maybe a source is still in use"_s);
        expectFlags(true, true, false);
        QVERIFY(twain->isManagerLoaded());
        QCOMPARE(rec->log(), QStringList());
    }

    void managerFailures_data() {
        QTest::addColumn<int>("msg");
        QTest::addColumn<int>("rc");
        QTest::addColumn<int>("cc");
        QTest::addColumn<QString>("message");
        QTest::newRow("open manager") << int(MSG_OPENDSM) << 1 << 1
                                      << u"Data Source Manager error in module OpenDataSourceManager:\r\n"
                                         u"General failure. Unload Source immediately."_s;
        QTest::newRow("open source")
            << int(MSG_OPENDS) << 1 << 3
            << u"Data Source Manager error in module OpenDataSource:\r\n"
               u"Data Source Manager was unable to find the specified Data Source."_s;
        QTest::newRow("odd code")
            << int(MSG_OPENDS) << 2 << 0
            << u"A call to the Data Source Manager failed in module OpenDataSource: Code 0002"_s;
        QTest::newRow("capability") << int(MSG_SET) << 1 << 13
                                    << u"Data Source Manager error in module XferMech:\r\n"
                                       u"Capability not supported by Data Source."_s;
        QTest::newRow("enable")
            << int(MSG_ENABLEDS) << 1 << 99
            << u"Data Source Manager error in module EnableDataSource:\r\nUnknown condition 0063"_s;
    }
    void managerFailures() {
        QFETCH(int, msg);
        QFETCH(int, rc);
        QFETCH(int, cc);
        QFETCH(QString, message);
        const TW_UINT16 dat = msg == MSG_OPENDSM  ? DAT_PARENT
                              : msg == MSG_OPENDS ? DAT_IDENTITY
                              : msg == MSG_SET    ? DAT_CAPABILITY
                                                  : DAT_USERINTERFACE;
        rec->answer(DG_CONTROL, dat, TW_UINT16(msg), TW_UINT16(rc), TW_UINT16(cc));
        const QString failure = failureOf([&] {
            twain->Initialize();
            twain->Acquire(&bitmap);
        });
        QCOMPARE(failure, message);
        // The flags of the steps done stay set; the failing step's flag stays clear.
        expectFlags(msg != MSG_OPENDSM, msg == MSG_SET || msg == MSG_ENABLEDS, false);
        if (rc == TWRC_FAILURE) {
            // The condition is asked of the manager, or of the source for the source's own calls.
            const QString asked = msg == MSG_SET ? u"DS"_s : u"DSM"_s;
            QCOMPARE(rec->log().last(),
                     u"%1 DG_CONTROL/DAT_STATUS/MSG_GET -> %2 => SUCCESS"_s.arg(asked).arg(cc));
        }
        // Retrying works once the manager agrees.
        twain->Acquire(&bitmap);
        expectFlags(true, true, true);
    }

    void statusUnavailable() {
        rec->answer(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE, TWCC_NODS);
        rec->setStatusFails(true);
        twain->Initialize();
        QCOMPARE(failureOf([&] { twain->OpenDataSource(); }), u"Unable to get the status"_s);
        expectFlags(true, false, false);
    }

    void closeManagerFailureKeepsItOpen() {
        twain->Initialize();
        rec->answer(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE, TWCC_SEQERROR);
        QCOMPARE(failureOf([&] { twain->CloseDataSourceManager(); }),
                 u"Data Source Manager error in module CloseDataSourceManager:\r\nIllegal operation for "
                 u"current Data "
                 u"Source Manager\r\nand Data Source state."_s);
        expectFlags(true, false, false);
        QVERIFY(twain->isManagerLoaded());
        twain->CloseDataSourceManager();
        expectFlags(false, false, false);
        QVERIFY(!twain->isManagerLoaded());
    }

    // A failure inside the transfer or the closing calls reaches the error report and leaves the
    // component ready for the next scan; OnScanReady is not raised for it.
    void failuresAfterTheSourcesMessage_data() {
        QTest::addColumn<int>("message");
        QTest::addColumn<int>("dg");
        QTest::addColumn<int>("dat");
        QTest::addColumn<int>("msg");
        QTest::addColumn<int>("cc");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QStringList>("log");
        const QString status = u"DSM DG_CONTROL/DAT_STATUS/MSG_GET -> %1 => SUCCESS"_s;
        const QString dsStatus = u"DS DG_CONTROL/DAT_STATUS/MSG_GET -> %1 => SUCCESS"_s;
        const QString event = u"DS DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT -> MSG_XFERREADY"_s;
        const QString get = u"DS DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET => %1"_s;
        const QString end = u"DS DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER -> Count=0 => SUCCESS"_s;
        const QString reset = u"DS DG_CONTROL/DAT_PENDINGXFERS/MSG_RESET -> Count=0 => SUCCESS"_s;
        QTest::newRow("transfer")
            << int(MSG_XFERREADY) << int(DG_IMAGE) << int(DAT_IMAGENATIVEXFER) << int(MSG_GET) << 20
            << u"Data Source Manager error in module Native Transfer:\r\nTransfer failed because "
               u"of a feeder error."_s
            << (QStringList{event, get.arg(u"FAILURE"_s), status.arg(20), end, reset} + closingLines());
        QTest::newRow("end of transfer")
            << int(MSG_XFERREADY) << int(DG_CONTROL) << int(DAT_PENDINGXFERS) << int(MSG_ENDXFER) << 5
            << u"Data Source Manager error in module Check for Pending Transfers:\r\nData Source or Data "
               u"Source "
               u"Manager reported an error to the\r\nuser and handled the error. No application action required."_s
            << (QStringList{event, get.arg(u"XFERDONE"_s),
                            u"DS DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER => FAILURE"_s, dsStatus.arg(5), end,
                            reset} +
                closingLines());
        QTest::newRow("disable")
            << int(MSG_CLOSEDSREQ) << int(DG_CONTROL) << int(DAT_USERINTERFACE) << int(MSG_DISABLEDS) << 2
            << u"Data Source Manager error in module DisableDataSource:\r\nNot enough memory to "
               u"complete the operation."_s
            << QStringList{};
    }
    void failuresAfterTheSourcesMessage() {
        QFETCH(int, message);
        QFETCH(int, dg);
        QFETCH(int, dat);
        QFETCH(int, msg);
        QFETCH(int, cc);
        QFETCH(QString, report);
        QFETCH(QStringList, log);
        rec->setImage(smallDib());
        twain->Initialize();
        twain->Acquire(&bitmap);
        rec->clearLog();
        rec->answer(TW_UINT32(dg), TW_UINT16(dat), TW_UINT16(msg), TWRC_FAILURE, TW_UINT16(cc));
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        rec->queueMessage(TW_UINT16(message));
        QTRY_COMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().text, report);
        if (!log.isEmpty())
            QCOMPARE(rec->log(), log);
        QCOMPARE(scanReady, 0);
        expectFlags(true, false, false);

        // The next scan goes through.
        rec->clearLog();
        twain->Acquire(&bitmap);
        rec->queueMessage(MSG_XFERREADY);
        QTRY_COMPARE(scanReady, 1);
        QVERIFY(twain->imageTransferred());
        QCOMPARE(bitmap.size(), QSize(2, 2));
    }

    void abortPendingFailure() {
        rec->setImage(smallDib());
        rec->setPending(1);
        twain->Initialize();
        twain->Acquire(&bitmap);
        rec->answer(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, TWRC_FAILURE, TWCC_BUMMER);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        rec->queueMessage(MSG_XFERREADY);
        QTRY_COMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(
            DialogsTestSeam::last().text,
            u"Data Source Manager error in module Abort Pending Transfers:\r\nGeneral failure. Unload Source "
            u"immediately."_s);
        expectFlags(true, false, false);
        // The picture had arrived before the failure.
        QCOMPARE(bitmap.size(), QSize(2, 2));
        QCOMPARE(scanReady, 0);
    }

    void messagesOnlyWhileTheSourceIsOpen() {
        twain->Initialize();
        QEvent poll{QEvent::Type(TwainPollEventType)};
        rec->queueMessage(MSG_XFERREADY);
        QCOMPARE(twain->ProcessMessage(&poll), false); // no source: the manager is not asked
        QCOMPARE(rec->log(), openingLines());
    }
};

QTEST_MAIN(TestTwain)
#include "tst_twain.moc"
