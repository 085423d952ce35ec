#include "SaneSource.h"

#include "SourceDialog.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>

#include <cstdlib>
#include <cstring>

using namespace Qt::StringLiterals;

namespace TwainSane {

namespace {

// The choices of the last scan, offered again by the next dialog.
Settings& remembered() {
    static Settings settings;
    return settings;
}

void setText(TW_STR32& field, const char* text) {
    std::memset(field.text, 0, sizeof field.text);
    std::strncpy(field.text, text, sizeof field.text - 2);
}

bool isFeeder(const QString& source) {
    const QString lower = source.toLower();
    return lower.contains(u"feeder"_s) || lower.contains(u"adf"_s) || lower.contains(u"duplex"_s);
}

} // namespace

SaneSource::SaneSource(TW_UINT32 id) : m_id(id), m_worker(this) {}

SaneSource::~SaneSource() {
    m_worker.cancel();
    delete m_dialog.data();
    m_worker.stop();
}

void SaneSource::describe(TW_IDENTITY& identity) {
    identity.Version.MajorNum = 1;
    identity.Version.MinorNum = 0;
    identity.Version.Language = 2; // English
    identity.Version.Country = 1;  // USA
    setText(identity.Version.Info, "SANE scanners");
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    setText(identity.Manufacturer, "Tenemark");
    setText(identity.ProductFamily, "SANE");
    setText(identity.ProductName, "SANE scanners");
}

TW_UINT16 SaneSource::fail(TW_UINT16 condition) {
    m_condition = condition;
    return TWRC_FAILURE;
}

TW_UINT16 SaneSource::succeed(TW_UINT16 code) {
    m_condition = TWCC_SUCCESS;
    return code;
}

TW_UINT16 SaneSource::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_STATUS:
            if (msg != MSG_GET || !data)
                return fail(TWCC_BADPROTOCOL);
            static_cast<TW_STATUS*>(data)->ConditionCode = m_condition;
            static_cast<TW_STATUS*>(data)->Data = 0;
            return TWRC_SUCCESS; // reading the status leaves it as it was
        case DAT_CAPABILITY:
            return capability(msg, static_cast<TW_CAPABILITY*>(data));
        case DAT_USERINTERFACE:
            if (!data)
                return fail(TWCC_BADPROTOCOL);
            if (msg == MSG_ENABLEDS)
                return enable(static_cast<TW_USERINTERFACE*>(data));
            if (msg == MSG_DISABLEDS)
                return disable();
            return fail(TWCC_BADPROTOCOL);
        case DAT_EVENT:
            if (msg != MSG_PROCESSEVENT || !data)
                return fail(TWCC_BADPROTOCOL);
            return processEvent(static_cast<TW_EVENT*>(data));
        case DAT_PENDINGXFERS:
            return pendingTransfers(msg, static_cast<TW_PENDINGXFERS*>(data));
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET)
        return nativeTransfer(static_cast<TW_HANDLE*>(data));
    return fail(TWCC_BADPROTOCOL);
}

// Only the native transfer is offered.
TW_UINT16 SaneSource::capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (!cap)
        return fail(TWCC_BADPROTOCOL);
    switch (msg) {
    case MSG_SET: {
        if (m_state != 4)
            return fail(TWCC_SEQERROR);
        if (cap->Cap != ICAP_XFERMECH)
            return fail(TWCC_CAPUNSUPPORTED);
        if (cap->ConType != TWON_ONEVALUE || !cap->hContainer)
            return fail(TWCC_BADVALUE);
        TW_ONEVALUE value;
        std::memcpy(&value, cap->hContainer, sizeof value);
        if (value.ItemType != TWTY_UINT16 || value.Item != TWSX_NATIVE)
            return fail(TWCC_BADVALUE);
        return succeed();
    }
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
    case MSG_RESET: {
        if (cap->Cap != ICAP_XFERMECH)
            return fail(TWCC_CAPUNSUPPORTED);
        if (msg == MSG_RESET && m_state != 4)
            return fail(TWCC_SEQERROR);
        auto* value = static_cast<TW_ONEVALUE*>(std::malloc(sizeof(TW_ONEVALUE)));
        if (!value)
            return fail(TWCC_LOWMEMORY);
        const TW_ONEVALUE native{TWTY_UINT16, TWSX_NATIVE};
        std::memcpy(value, &native, sizeof native);
        cap->ConType = TWON_ONEVALUE;
        cap->hContainer = value; // the application frees it
        return succeed();
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SaneSource::enable(const TW_USERINTERFACE* ui) {
    if (m_state != 4)
        return fail(TWCC_SEQERROR);
    m_showUI = ui->ShowUI != 0;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (m_showUI && !app)
        return fail(TWCC_BUMMER); // a dialog needs a widget application
    m_state = 5;
    m_messages.clear();
    m_page = {};
    m_pageCondition = TWCC_SUCCESS;
    m_morePages = false;
    if (!m_showUI) {
        startUnattendedScan();
        return succeed();
    }
    SourceDialog::Hooks hooks;
    hooks.scan = [this](const Settings& settings) { startScan(settings); };
    hooks.cancelScan = [this] { m_worker.cancel(); };
    hooks.closeRequested = [this] {
        if (m_state == 5 && !m_scanning && m_messages.empty())
            queueMessage(MSG_CLOSEDSREQ);
    };
    auto* dialog = new SourceDialog(m_worker, remembered(), std::move(hooks));
    m_dialog = dialog;
    // Modal to the application without a local event loop; a dialog that is not modal could not be
    // used at all while the application shows a modal window of its own.
    if (ui->ModalUI != 0 || QApplication::activeModalWidget())
        dialog->setWindowModality(Qt::ApplicationModal);
    dialog->adjustSize();
    if (QWidget* over = QApplication::activeWindow())
        dialog->move(over->frameGeometry().center() - dialog->rect().center());
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        dialog->move(screen->availableGeometry().center() - dialog->rect().center());
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return succeed();
}

TW_UINT16 SaneSource::disable() {
    if (m_state != 5)
        return fail(TWCC_SEQERROR);
    if (m_scanning)
        m_worker.cancel();
    m_scanning = false;
    delete m_dialog.data();
    m_messages.clear();
    m_page = {};
    m_state = 4;
    return succeed();
}

void SaneSource::startScan(const Settings& settings) {
    if (m_state != 5 || m_scanning)
        return;
    m_scanning = true;
    m_settings = settings;
    m_settings.packed = true;
    remembered() = settings;
    QPointer<SaneSource> self(this);
    m_worker.scan(
        m_settings,
        [self](int lines, int total) {
            if (self && self->m_dialog)
                self->m_dialog->showProgress(lines, total);
        },
        [self](const Result& result) {
            if (self)
                self->scanFinished(result);
        });
}

// Without its dialog the source scans at once: the remembered scanner, else the first found.
void SaneSource::startUnattendedScan() {
    m_scanning = true;
    QPointer<SaneSource> self(this);
    m_worker.discover([self](const QList<Device>& devices, const QString& failure) {
        if (!self || self->m_state != 5)
            return;
        self->m_scanning = false;
        if (devices.isEmpty()) {
            Result result;
            result.condition = failure.isEmpty() ? TWCC_NODS : TWCC_BUMMER;
            self->scanFinished(result);
            return;
        }
        Settings settings = remembered();
        bool known = false;
        for (const Device& d : devices)
            known = known || d.name == settings.device;
        if (!known) {
            settings.device = devices.front().name;
            settings.source.clear();
        }
        self->startScan(settings);
    });
}

void SaneSource::scanFinished(const Result& result) {
    m_scanning = false;
    if (m_state != 5)
        return; // disabled meanwhile
    if (m_dialog)
        m_dialog->scanEnded(result);
    if (result.cancelled)
        return;
    m_page = result.dib;
    m_pageCondition = result.condition;
    queueMessage(MSG_XFERREADY);
}

// The application learns of the message at its next poll; a poll is posted to it at once, as a
// source on Windows posts to its parent window, so that it need not wait for its timer.
void SaneSource::queueMessage(TW_UINT16 message) {
    m_messages.push_back(message);
    if (QCoreApplication* app = QCoreApplication::instance())
        QCoreApplication::postEvent(app, new QEvent(QEvent::Type(TwainPollEventType)));
}

TW_UINT16 SaneSource::processEvent(TW_EVENT* event) {
    event->TWMessage = MSG_NULL;
    const auto* message = static_cast<const QEvent*>(event->pEvent);
    // Only the application's poll event carries the source's messages; every other event
    // belongs to the application.
    if (m_state != 5 || m_messages.empty() || !message || int(message->type()) != TwainPollEventType)
        return succeed(TWRC_NOTDSEVENT);
    event->TWMessage = m_messages.front();
    m_messages.pop_front();
    if (event->TWMessage == MSG_XFERREADY)
        m_state = 6;
    return succeed(TWRC_DSEVENT);
}

TW_UINT16 SaneSource::nativeTransfer(TW_HANDLE* handle) {
    if (!handle)
        return fail(TWCC_BADPROTOCOL);
    if (m_state != 6)
        return fail(TWCC_SEQERROR);
    if (!m_page.block && m_pageCondition == TWCC_SUCCESS && m_morePages) {
        // The next sheet of the feeder: read while the application waits, as native transfers do.
        const Result next = m_worker.scanNow(m_settings);
        m_page = next.dib;
        m_pageCondition = next.cancelled ? TWCC_BUMMER : next.condition;
    }
    if (m_pageCondition != TWCC_SUCCESS || !m_page.block) {
        const TW_UINT16 condition = m_pageCondition != TWCC_SUCCESS ? m_pageCondition : TWCC_SEQERROR;
        m_morePages = false;
        m_pageCondition = TWCC_SUCCESS;
        return fail(condition);
    }
    *handle = m_page.block->release(); // the application frees it
    m_page = {};
    m_state = 7;
    return succeed(TWRC_XFERDONE);
}

TW_UINT16 SaneSource::pendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending) {
    if (!pending)
        return fail(TWCC_BADPROTOCOL);
    switch (msg) {
    case MSG_ENDXFER: {
        if (m_state != 6 && m_state != 7)
            return fail(TWCC_SEQERROR);
        // A feeder may hold more sheets; how many is not known until they are read.
        const bool more = m_state == 7 && isFeeder(m_settings.source);
        m_page = {};
        pending->EOJ = 0;
        if (more) {
            m_morePages = true;
            m_state = 6;
            pending->Count = 0xFFFF;
        } else {
            pending->Count = 0;
            backToEnabled();
        }
        return succeed();
    }
    case MSG_RESET:
        if (m_state != 6)
            return fail(TWCC_SEQERROR);
        pending->Count = 0;
        pending->EOJ = 0;
        backToEnabled();
        return succeed();
    case MSG_GET:
        pending->Count = m_state < 6 ? 0 : (m_morePages ? 0xFFFF : 1);
        pending->EOJ = 0;
        return succeed();
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

void SaneSource::backToEnabled() {
    m_state = 5;
    m_page = {};
    m_pageCondition = TWCC_SUCCESS;
    m_morePages = false;
    if (m_dialog)
        m_dialog->transferEnded();
}

} // namespace TwainSane
