// The project's manager library called directly, as any TWAIN application would: the packed
// bitmaps it delivers, the feeder's pending pages, and its answers to calls that are wrong.

#include "ModalWatch.h"
#include "SaneTestSupport.h"
#include "TwainTypes.h"

#include <QDialog>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLibrary>
#include <QProgressBar>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;
using namespace SourceDialogDriver;

namespace {

const QString ManagerPath = QString::fromUtf8(TENEMARK_RUNTIME_DIR) + u"/libtenemark-twaindsm.so"_s;

struct Dib {
    TW_BITMAPINFOHEADER header{};
    const uchar* block = nullptr;
    ~Dib() { std::free(const_cast<uchar*>(block)); }
    const uchar* table() const { return block + 40; }
    const uchar* row(int bottomUpIndex) const {
        const int stride = ((header.biWidth * header.biBitCount + 31) / 32) * 4;
        return block + 40 + 4 * header.biClrUsed + std::size_t(stride) * std::size_t(bottomUpIndex);
    }
};

// Whether the 24-bit bitmap holds the page: bottom-up rows, blue-green-red, padding zero.
bool sameAsPage(const Dib& dib, const SanePage& page) {
    const int stride = ((page.width * 3 + 3) / 4) * 4;
    for (int y = 0; y < page.height; ++y) {
        const uchar* d = dib.row(page.height - 1 - y);
        const uchar* s = page.row(y);
        for (int x = 0; x < page.width; ++x)
            if (d[3 * x] != s[3 * x + 2] || d[3 * x + 1] != s[3 * x + 1] || d[3 * x + 2] != s[3 * x])
                return false;
        for (int pad = page.width * 3; pad < stride; ++pad)
            if (d[pad] != 0)
                return false;
    }
    return true;
}

} // namespace

class TestTwainDsm : public QObject {
    Q_OBJECT

    std::unique_ptr<SaneTestConfig> config;
    std::unique_ptr<ModalWatch> watch;
    const bool fakeDevice = qEnvironmentVariable("TWAIN_FAULT") == u"fakedevice"_s;
    QLibrary library{ManagerPath};
    DSMENTRYPROC entry = nullptr;
    TW_IDENTITY app{};
    TW_IDENTITY source{};
    TW_UINT32 parent = 42;

    TW_UINT16 call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return entry(&app, dest, dg, dat, msg, data);
    }
    TW_UINT16 managerCondition() {
        TW_STATUS status{};
        if (call(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
            return 0xFFFF;
        return status.ConditionCode;
    }
    TW_UINT16 sourceCondition() {
        TW_STATUS status{};
        if (call(&source, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
            return 0xFFFF;
        return status.ConditionCode;
    }
    // The answer of a call and the condition that the manager reports for it.
    QString outcome(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        const TW_UINT16 rc = call(dest, dg, dat, msg, data);
        return u"%1/%2"_s.arg(rc).arg(rc == TWRC_FAILURE ? managerCondition() : 0);
    }
    static QString failed(TW_UINT16 cc) { return u"1/%1"_s.arg(cc); }

    void openSource() {
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
        source = {};
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    }
    void closeAll() {
        TW_PENDINGXFERS pending{};
        call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        TW_USERINTERFACE ui{};
        call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
        call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    }
    // Enables the source with its dialog and scans through it; returns when the source reports
    // MSG_XFERREADY (the dialog stays until the source is disabled).
    QDialog* scanUntilReady(bool colour, int dpi, const QRectF& area,
                            const QString& sourceName = u"Flatbed"_s) {
        TW_USERINTERFACE ui{65535, 65535, nullptr};
        if (call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS)
            return nullptr;
        QDialog* dialog = waitForReady();
        if (!dialog || !choose(dialog, "SourceCB", sourceName) || !choose(dialog, "ModeCB", colour) ||
            !choose(dialog, "ResolutionCB", dpi))
            return nullptr;
        setArea(dialog, area);
        click(dialog, "ScanBtn");
        if (!waitForMessage(MSG_XFERREADY))
            return nullptr;
        return dialog;
    }
    bool waitForMessage(TW_UINT16 expected) {
        return QTest::qWaitFor(
            [&] {
                QEvent poll{QEvent::Type(TwainPollEventType)};
                TW_EVENT event{&poll, MSG_NULL};
                const TW_UINT16 rc = call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
                return rc == TWRC_DSEVENT && event.TWMessage == expected;
            },
            30000);
    }
    // Enables the source without its dialog, which then scans with the first scanner at once.
    bool scanUnattended() {
        TW_USERINTERFACE ui{0, 0, nullptr};
        return call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) == TWRC_SUCCESS &&
               waitForMessage(MSG_XFERREADY);
    }
    std::unique_ptr<Dib> transfer() {
        TW_HANDLE handle = nullptr;
        if (call(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != TWRC_XFERDONE || !handle)
            return nullptr;
        auto dib = std::make_unique<Dib>();
        dib->block = static_cast<const uchar*>(handle);
        std::memcpy(&dib->header, handle, sizeof dib->header);
        return dib;
    }

private Q_SLOTS:
    void initTestCase() {
        config = std::make_unique<SaneTestConfig>();
        if (fakeDevice) {
            QFile dll(config->folder() + u"/dll.conf"_s);
            QVERIFY(dll.open(QIODevice::WriteOnly));
            dll.write("tenemarkfake\n");
            qputenv("LD_LIBRARY_PATH", FAKE_SANE_DIR);
        }
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        entry = reinterpret_cast<DSMENTRYPROC>(library.resolve("DSM_Entry"));
        QVERIFY(entry);
        app.Id = 1;
        app.ProtocolMajor = 1;
        app.ProtocolMinor = 7;
        app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    }
    void init() { watch = std::make_unique<ModalWatch>(); }
    void cleanup() {
        closeAll();
        QCOMPARE(find(), nullptr);
        QCOMPARE(watch->unexpected(), QStringList());
    }

    void colourBitmap() {
        const QRectF area(10, 20, 70, 50);
        const SanePage page = readSanePage(u"test:0"_s, true, 75, area);
        openSource();
        QDialog* dialog = scanUntilReady(true, 75, area);
        QVERIFY(dialog);
        // The page has been read; the dialog waits for the transfer.
        auto* progress = dialog->findChild<QProgressBar*>(u"ProgressBar"_s);
        QCOMPARE(progress->maximum(), page.height);
        QCOMPARE(progress->value(), page.height);
        QCOMPARE(status(dialog), u"Transferring the image…"_s);

        const auto dib = transfer();
        QVERIFY(dib);
        const TW_BITMAPINFOHEADER& h = dib->header;
        QCOMPARE(h.biSize, TW_UINT32(40));
        QCOMPARE(h.biWidth, page.width);
        QCOMPARE(h.biHeight, page.height); // positive: bottom-up
        QCOMPARE(h.biPlanes, TW_UINT16(1));
        QCOMPARE(h.biBitCount, TW_UINT16(24));
        QCOMPARE(h.biCompression, BI_RGB);
        const int stride = ((page.width * 3 + 3) / 4) * 4;
        QCOMPARE(page.width * 3 % 4 != 0, true); // the rows need padding here
        QCOMPARE(h.biSizeImage, TW_UINT32(stride * page.height));
        QCOMPARE(h.biXPelsPerMeter, 2953); // 75 dpi
        QCOMPARE(h.biClrUsed, TW_UINT32(0));
        QVERIFY(sameAsPage(*dib, page));

        TW_PENDINGXFERS pending{9, 9};
        QCOMPARE(call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        QCOMPARE(pending.Count, TW_UINT16(0));
        // Back in the enabled state the dialog is ready for another page.
        QCOMPARE(status(dialog), u"Ready"_s);
    }

    void greyBitmap() {
        const QRectF area(0, 0, 90, 30);
        const SanePage page = readSanePage(u"test:0"_s, false, 100, area);
        openSource();
        QVERIFY(scanUntilReady(false, 100, area));
        const auto dib = transfer();
        QVERIFY(dib);
        QCOMPARE(dib->header.biBitCount, TW_UINT16(8));
        QCOMPARE(dib->header.biClrUsed, TW_UINT32(256));
        QCOMPARE(dib->header.biWidth, page.width);
        QCOMPARE(dib->header.biHeight, page.height);
        for (int i = 0; i < 256; ++i) {
            const uchar* e = dib->table() + 4 * i;
            QVERIFY(e[0] == i && e[1] == i && e[2] == i && e[3] == 0);
        }
        for (int y = 0; y < page.height; ++y)
            QVERIFY(std::memcmp(dib->row(page.height - 1 - y), page.row(y), std::size_t(page.width)) == 0);
    }

    void feederPagesPendUntilReset() {
        const QRectF area(0, 0, 40, 30);
        const QString feeder = u"Automatic Document Feeder"_s;
        const SanePage page = readSanePage(u"test:0"_s, true, 50, area, feeder);
        openSource();
        QVERIFY(scanUntilReady(true, 50, area, feeder));
        for (int sheet = 1; sheet <= 2; ++sheet) {
            const auto dib = transfer();
            QVERIFY2(dib, qPrintable(u"sheet %1"_s.arg(sheet)));
            QCOMPARE(dib->header.biWidth, page.width);
            QCOMPARE(dib->header.biHeight, page.height);
            QVERIFY(sameAsPage(*dib, page));
            TW_PENDINGXFERS pending{};
            QCOMPARE(call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
            QCOMPARE(pending.Count, TW_UINT16(0xFFFF)); // a feeder may hold more sheets
        }
        TW_PENDINGXFERS pending{};
        QCOMPARE(call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
        QCOMPARE(pending.Count, TW_UINT16(0));
        TW_HANDLE handle = nullptr;
        QCOMPARE(outcome(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), failed(TWCC_SEQERROR));
        QCOMPARE(handle, nullptr);
    }

    // Frame sizes that do not add up fail the transfer with a condition; the next page goes through.
    void badFramesFailTheTransfer_data() {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<int>("condition");
        QTest::newRow("rows shorter than their pixels") << "rgb 100 297 10 8"_ba << int(TWCC_BUMMER);
        QTest::newRow("no bytes per line") << "gray 100 0 10 8"_ba << int(TWCC_BUMMER);
        QTest::newRow("negative bytes per line") << "gray 100 -100 10 8"_ba << int(TWCC_BUMMER);
        QTest::newRow("16-bit samples in 8-bit rows") << "gray 100 100 10 16"_ba << int(TWCC_BUMMER);
        QTest::newRow("colour planes of two widths")
            << "red 20 20 4 8;green 10 10 4 8;blue 20 20 4 8"_ba << int(TWCC_BUMMER);
        QTest::newRow("lines times three beyond int") << "red 8 8 800000000 8"_ba << int(TWCC_BUMMER);
        QTest::newRow("page beyond the byte limit") << "rgb 20000 60000 20000 8"_ba << int(TWCC_LOWMEMORY);
        QTest::newRow("busy device") << "busy"_ba << int(TWCC_MAXCONNECTIONS);
    }
    void badFramesFailTheTransfer() {
        if (!fakeDevice)
            QSKIP("runs with the fake device");
        QFETCH(QByteArray, frames);
        QFETCH(int, condition);
        openSource();
        qputenv("TWAIN_FAKE_FRAMES", frames);
        QVERIFY(scanUnattended());
        TW_HANDLE handle = nullptr;
        QCOMPARE(outcome(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle),
                 failed(TW_UINT16(condition)));
        TW_PENDINGXFERS pending{};
        QCOMPARE(call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        TW_USERINTERFACE ui{};
        QCOMPARE(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);

        // Grey rows of 5 pixels in 8 bytes, each starting where bytes_per_line says; of the 4 rows
        // announced the device sends 3, which make the picture.
        qputenv("TWAIN_FAKE_FRAMES", "gray 5 8 4 8 3");
        QVERIFY(scanUnattended());
        const auto dib = transfer();
        QVERIFY(dib);
        QCOMPARE(dib->header.biWidth, 5);
        QCOMPARE(dib->header.biHeight, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                QCOMPARE(dib->row(2 - y)[x], uchar(8 * y + x));
    }

    void eventsBelongToTheApplication() {
        openSource();
        TW_USERINTERFACE ui{65535, 65535, nullptr};
        QCOMPARE(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        QDialog* dialog = waitForReady();
        QVERIFY(dialog);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, u"a"_s);
        TW_EVENT event{&key, 0x7777};
        QCOMPARE(call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
        QCOMPARE(event.TWMessage, MSG_NULL);
        QEvent poll{QEvent::Type(TwainPollEventType)};
        event = {&poll, 0x7777};
        QCOMPARE(call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event),
                 TWRC_NOTDSEVENT); // nothing queued
        QCOMPARE(event.TWMessage, MSG_NULL);
        // "Cancel" in the idle dialog asks the application to close the source.
        click(dialog, "CancelBtn");
        QVERIFY(waitForMessage(MSG_CLOSEDSREQ));
    }

    void wrongCallsAnswerFailure() {
        TW_STATUS status{};
        QCOMPARE(entry(nullptr, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_FAILURE);
        QCOMPARE(managerCondition(), TWCC_BADPROTOCOL);
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_NULL, MSG_GET, &status), failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(nullptr, 0x8000, DAT_STATUS, MSG_GET, &status), failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent), failed(TWCC_SEQERROR));
        source = {};
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), failed(TWCC_SEQERROR));

        QCOMPARE(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
        QCOMPARE(managerCondition(), TWCC_SUCCESS);
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent), failed(TWCC_SEQERROR));
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), failed(TWCC_BADPROTOCOL));
        TW_IDENTITY other{};
        std::strcpy(other.ProductName.text, "Another scanner");
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &other), failed(TWCC_NODS));
        TW_USERINTERFACE ui{65535, 65535, nullptr};
        QCOMPARE(outcome(&other, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), failed(TWCC_BADDEST));

        TW_IDENTITY first{};
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &first), TWRC_SUCCESS);
        QCOMPARE(QString::fromLatin1(first.ProductName.text), u"SANE scanners"_s);
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &first), TWRC_ENDOFLIST);

        source = {};
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
        QCOMPARE(QString::fromLatin1(source.ProductName.text), u"SANE scanners"_s);
        QVERIFY(source.Id != 0);
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source),
                 failed(TWCC_MAXCONNECTIONS));
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent), failed(TWCC_SEQERROR));

        // The source's own checks; its status tells the same condition.
        TW_HANDLE handle = nullptr;
        QCOMPARE(outcome(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), failed(TWCC_SEQERROR));
        QCOMPARE(sourceCondition(), TWCC_SEQERROR);
        QCOMPARE(outcome(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, nullptr), failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), failed(TWCC_SEQERROR));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr),
                 failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr),
                 failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, nullptr),
                 failed(TWCC_BADPROTOCOL));
        TW_PENDINGXFERS pending{};
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending),
                 failed(TWCC_SEQERROR));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, nullptr), failed(TWCC_BADPROTOCOL));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_NULL, MSG_GET, &status), failed(TWCC_BADPROTOCOL));

        TW_ONEVALUE memory{TWTY_UINT16, TWSX_MEMORY};
        TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, &memory};
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), failed(TWCC_BADVALUE));
        cap.hContainer = nullptr;
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), failed(TWCC_BADVALUE));
        TW_CAPABILITY other_cap{0x1001, TWON_ONEVALUE, &memory};
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &other_cap),
                 failed(TWCC_CAPUNSUPPORTED));
        TW_ONEVALUE native{TWTY_UINT16, TWSX_NATIVE};
        cap = {ICAP_XFERMECH, TWON_ONEVALUE, &native};
        QCOMPARE(call(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS);
        TW_CAPABILITY asked{ICAP_XFERMECH, 0, nullptr};
        QCOMPARE(call(&source, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &asked), TWRC_SUCCESS);
        QCOMPARE(asked.ConType, TWON_ONEVALUE);
        TW_ONEVALUE current{};
        std::memcpy(&current, asked.hContainer, sizeof current);
        std::free(asked.hContainer);
        QCOMPARE(current.ItemType, TWTY_UINT16);
        QCOMPARE(current.Item, TW_UINT32(TWSX_NATIVE));

        // Enabled: the source cannot be closed, nor its capabilities set.
        QCOMPARE(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), failed(TWCC_SEQERROR));
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), failed(TWCC_SEQERROR));
        QCOMPARE(outcome(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), failed(TWCC_SEQERROR));
        QVERIFY(find());
        QCOMPARE(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        QCOMPARE(find(), nullptr);
        TW_IDENTITY wrong = source;
        wrong.Id += 100;
        QCOMPARE(outcome(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &wrong), failed(TWCC_BADDEST));
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
        QCOMPARE(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_SUCCESS);
    }
};

QTEST_MAIN(TestTwainDsm)
#include "tst_twaindsm.moc"
