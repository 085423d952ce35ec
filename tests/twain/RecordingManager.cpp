// A Data Source Manager for the component's tests: it answers like a manager with one source,
// writes every triplet it receives with its values into a log, and fails where a test tells it to.
// Besides DSM_Entry it exports the Recorder* functions through which the test drives it.

#include "TwainTypes.h"

#include <QEvent>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#define RECORDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Answer {
    TW_UINT16 rc;
    TW_UINT16 cc;
};

struct Recorder {
    std::string log;
    std::map<std::tuple<TW_UINT32, TW_UINT16, TW_UINT16>, Answer> answers; // one-shot
    std::deque<TW_UINT16> messages;
    std::vector<unsigned char> image;
    TW_UINT16 pending = 0;
    TW_UINT16 condition = TWCC_SUCCESS;
    TW_UINT16 ordinaryEventAnswer = TWRC_NOTDSEVENT;
    bool statusFails = false;
    int ordinaryEvents = 0;
};

Recorder& rec() {
    static Recorder r;
    return r;
}

std::string text(const TW_STR32& s) {
    return std::string(s.text, strnlen(s.text, sizeof s.text));
}

const char* name(TW_UINT32 dg) {
    return dg == DG_CONTROL ? "DG_CONTROL" : dg == DG_IMAGE ? "DG_IMAGE" : "DG_?";
}

std::string datName(TW_UINT16 dat) {
    switch (dat) {
    case DAT_CAPABILITY:
        return "DAT_CAPABILITY";
    case DAT_EVENT:
        return "DAT_EVENT";
    case DAT_IDENTITY:
        return "DAT_IDENTITY";
    case DAT_PARENT:
        return "DAT_PARENT";
    case DAT_PENDINGXFERS:
        return "DAT_PENDINGXFERS";
    case DAT_STATUS:
        return "DAT_STATUS";
    case DAT_USERINTERFACE:
        return "DAT_USERINTERFACE";
    case DAT_IMAGENATIVEXFER:
        return "DAT_IMAGENATIVEXFER";
    default:
        return "DAT_" + std::to_string(dat);
    }
}

std::string msgName(TW_UINT16 msg) {
    switch (msg) {
    case MSG_NULL:
        return "MSG_NULL";
    case MSG_GET:
        return "MSG_GET";
    case MSG_SET:
        return "MSG_SET";
    case MSG_RESET:
        return "MSG_RESET";
    case MSG_XFERREADY:
        return "MSG_XFERREADY";
    case MSG_CLOSEDSREQ:
        return "MSG_CLOSEDSREQ";
    case MSG_CLOSEDSOK:
        return "MSG_CLOSEDSOK";
    case MSG_OPENDSM:
        return "MSG_OPENDSM";
    case MSG_CLOSEDSM:
        return "MSG_CLOSEDSM";
    case MSG_OPENDS:
        return "MSG_OPENDS";
    case MSG_CLOSEDS:
        return "MSG_CLOSEDS";
    case MSG_DISABLEDS:
        return "MSG_DISABLEDS";
    case MSG_ENABLEDS:
        return "MSG_ENABLEDS";
    case MSG_PROCESSEVENT:
        return "MSG_PROCESSEVENT";
    case MSG_ENDXFER:
        return "MSG_ENDXFER";
    default:
        return "MSG_" + std::to_string(msg);
    }
}

std::string identity(const TW_IDENTITY& id) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "Id=%u Version=%u.%u Language=%u Country=%u Info=\"%s\" Protocol=%u.%u Groups=%u "
                  "Manufacturer=\"%s\" Family=\"%s\" Product=\"%s\"",
                  unsigned(id.Id), unsigned(id.Version.MajorNum), unsigned(id.Version.MinorNum),
                  unsigned(id.Version.Language), unsigned(id.Version.Country), text(id.Version.Info).c_str(),
                  unsigned(id.ProtocolMajor), unsigned(id.ProtocolMinor), unsigned(id.SupportedGroups),
                  text(id.Manufacturer).c_str(), text(id.ProductFamily).c_str(),
                  text(id.ProductName).c_str());
    return buffer;
}

std::string rcName(TW_UINT16 rc) {
    static const char* names[] = {"SUCCESS", "FAILURE",    "CHECKSTATUS", "CANCEL",
                                  "DSEVENT", "NOTDSEVENT", "XFERDONE",    "ENDOFLIST"};
    return rc < 8 ? names[rc] : std::to_string(rc);
}

// The values of one call, as the log shows them; `after` is false before the call is answered.
std::string values(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (!data)
        return " data=null";
    char buffer[256] = "";
    switch (dat) {
    case DAT_PARENT:
        std::snprintf(buffer, sizeof buffer, " parent=%u", unsigned(*static_cast<TW_UINT32*>(data)));
        break;
    case DAT_IDENTITY:
        std::snprintf(buffer, sizeof buffer, " source=[Id=%u Product=\"%s\"]",
                      unsigned(static_cast<TW_IDENTITY*>(data)->Id),
                      text(static_cast<TW_IDENTITY*>(data)->ProductName).c_str());
        break;
    case DAT_CAPABILITY: {
        const auto* cap = static_cast<TW_CAPABILITY*>(data);
        TW_ONEVALUE one{};
        if (cap->hContainer)
            std::memcpy(&one, cap->hContainer, sizeof one);
        std::snprintf(buffer, sizeof buffer, " Cap=0x%04X ConType=%u ItemType=%u Item=%u", unsigned(cap->Cap),
                      unsigned(cap->ConType), unsigned(one.ItemType), unsigned(one.Item));
        break;
    }
    case DAT_USERINTERFACE: {
        const auto* ui = static_cast<TW_USERINTERFACE*>(data);
        std::snprintf(buffer, sizeof buffer, " ShowUI=%u ModalUI=%u hParent=%llu", unsigned(ui->ShowUI),
                      unsigned(ui->ModalUI),
                      static_cast<unsigned long long>(reinterpret_cast<quintptr>(ui->hParent)));
        break;
    }
    default:
        break;
    }
    (void)msg;
    return buffer;
}

TW_UINT16 answer(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 normal) {
    Recorder& r = rec();
    auto it = r.answers.find({dg, dat, msg});
    if (it == r.answers.end()) {
        r.condition = TWCC_SUCCESS;
        return normal;
    }
    const Answer a = it->second;
    r.answers.erase(it);
    r.condition = a.cc;
    return a.rc;
}

TW_UINT16 entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                TW_MEMREF data) {
    Recorder& r = rec();
    if (dat == DAT_EVENT && msg == MSG_PROCESSEVENT && data) {
        auto* event = static_cast<TW_EVENT*>(data);
        const auto* qevent = static_cast<const QEvent*>(event->pEvent);
        event->TWMessage = MSG_NULL;
        if (qevent && int(qevent->type()) == TwainPollEventType && !r.messages.empty()) {
            event->TWMessage = r.messages.front();
            r.messages.pop_front();
            r.log += "DS DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT -> " + msgName(event->TWMessage) + "\n";
            return TWRC_DSEVENT;
        }
        ++r.ordinaryEvents;
        return r.ordinaryEventAnswer;
    }

    std::string line = std::string(dest ? "DS " : "DSM ") + name(dg) + "/" + datName(dat) + "/" +
                       msgName(msg) + values(dat, msg, data);
    if (dat == DAT_PARENT && msg == MSG_OPENDSM && origin)
        r.log += "app " + identity(*origin) + "\n";

    TW_UINT16 rc = TWRC_SUCCESS;
    if (dat == DAT_STATUS) {
        rc = r.statusFails ? TWRC_FAILURE : TWRC_SUCCESS;
        if (rc == TWRC_SUCCESS && data) {
            static_cast<TW_STATUS*>(data)->ConditionCode = r.condition;
            line += " -> " + std::to_string(r.condition);
        }
        r.log += line + " => " + rcName(rc) + "\n";
        return rc;
    }
    if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
        rc = answer(dg, dat, msg, TWRC_SUCCESS);
        if (rc == TWRC_SUCCESS && data) {
            auto* id = static_cast<TW_IDENTITY*>(data);
            id->Id = 7;
            std::memset(id->ProductName.text, 0, sizeof id->ProductName.text);
            std::strcpy(id->ProductName.text, "Recorder");
        }
    } else if (dat == DAT_IMAGENATIVEXFER) {
        rc = answer(dg, dat, msg, r.image.empty() ? TWRC_CANCEL : TWRC_XFERDONE);
        if (rc == TWRC_XFERDONE && data) {
            void* block = std::malloc(r.image.size());
            std::memcpy(block, r.image.data(), r.image.size());
            *static_cast<TW_HANDLE*>(data) = block;
        }
    } else if (dat == DAT_PENDINGXFERS) {
        rc = answer(dg, dat, msg, TWRC_SUCCESS);
        if (rc == TWRC_SUCCESS && data) {
            auto* pending = static_cast<TW_PENDINGXFERS*>(data);
            if (msg == MSG_RESET)
                r.pending = 0;
            pending->Count = r.pending;
            line += " -> Count=" + std::to_string(pending->Count);
        }
    } else {
        rc = answer(dg, dat, msg, TWRC_SUCCESS);
    }
    r.log += line + " => " + rcName(rc) + "\n";
    return rc;
}

} // namespace

RECORDER_EXPORT TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                                    TW_UINT16 msg, TW_MEMREF data) {
    return entry(origin, dest, dg, dat, msg, data);
}

RECORDER_EXPORT void RecorderReset() {
    rec() = Recorder{};
}

RECORDER_EXPORT const char* RecorderLog() {
    return rec().log.c_str();
}

RECORDER_EXPORT void RecorderClearLog() {
    rec().log.clear();
}

RECORDER_EXPORT int RecorderOrdinaryEvents() {
    return rec().ordinaryEvents;
}

// The next call of this triplet answers `rc`, with `cc` as the condition that DAT_STATUS reports.
RECORDER_EXPORT void RecorderAnswer(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, TW_UINT16 cc) {
    rec().answers[{dg, dat, msg}] = {rc, cc};
}

RECORDER_EXPORT void RecorderQueueMessage(TW_UINT16 msg) {
    rec().messages.push_back(msg);
}

RECORDER_EXPORT void RecorderSetPending(TW_UINT16 count) {
    rec().pending = count;
}

RECORDER_EXPORT void RecorderSetImage(const unsigned char* bytes, int size) {
    rec().image.assign(bytes, bytes + size);
}

RECORDER_EXPORT void RecorderSetStatusFails(bool fails) {
    rec().statusFails = fails;
}

RECORDER_EXPORT void RecorderSetOrdinaryEventAnswer(TW_UINT16 rc) {
    rec().ordinaryEventAnswer = rc;
}
