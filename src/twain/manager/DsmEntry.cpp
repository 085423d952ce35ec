// The Data Source Manager library: the one exported entry DSM_Entry, the manager's own
// triplets, and the routing of the others to its one source (SANE).

#include "SaneSource.h"
#include "TwainTypes.h"

#include <QCoreApplication>

#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace {

using TwainSane::SaneSource;

class Manager {
public:
    ~Manager() {
        // Unloading the library or ending the process: nothing of the source may outlive its code.
        // Without an application its widgets can no longer be deleted; they are left alone.
        if (source && !QCoreApplication::instance())
            (void)source.release();
        source.reset();
    }

    TW_UINT16 entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data) {
        if (!origin || (dg != DG_CONTROL && dg != DG_IMAGE))
            return fail(TWCC_BADPROTOCOL);
        if (destination)
            return toSource(destination, dg, dat, msg, data);
        if (dg != DG_CONTROL)
            return fail(TWCC_BADPROTOCOL);
        switch (dat) {
        case DAT_STATUS:
            if (msg != MSG_GET || !data)
                return fail(TWCC_BADPROTOCOL);
            static_cast<TW_STATUS*>(data)->ConditionCode = condition;
            static_cast<TW_STATUS*>(data)->Data = 0;
            return TWRC_SUCCESS; // reading the status leaves it as it was
        case DAT_PARENT:
            return parent(msg, data);
        case DAT_IDENTITY:
            return identity(msg, static_cast<TW_IDENTITY*>(data));
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }

    void failed(TW_UINT16 code) { condition = code; }

private:
    TW_UINT16 fail(TW_UINT16 code) {
        condition = code;
        return TWRC_FAILURE;
    }
    TW_UINT16 succeed(TW_UINT16 code = TWRC_SUCCESS) {
        condition = TWCC_SUCCESS;
        return code;
    }

    TW_UINT16 parent(TW_UINT16 msg, TW_MEMREF data) {
        if (!data)
            return fail(TWCC_BADPROTOCOL);
        switch (msg) {
        case MSG_OPENDSM:
            if (open)
                return fail(TWCC_SEQERROR);
            if (!QCoreApplication::instance())
                return fail(TWCC_BUMMER); // the source needs the application's event loop
            open = true;
            return succeed();
        case MSG_CLOSEDSM:
            if (!open || source)
                return fail(TWCC_SEQERROR);
            open = false;
            return succeed();
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }

    TW_UINT16 identity(TW_UINT16 msg, TW_IDENTITY* id) {
        if (!id)
            return fail(TWCC_BADPROTOCOL);
        if (!open)
            return fail(TWCC_SEQERROR);
        switch (msg) {
        case MSG_GETDEFAULT:
        case MSG_GETFIRST:
        case MSG_USERSELECT: // one source: nothing to choose
            std::memset(id, 0, sizeof *id);
            SaneSource::describe(*id);
            return succeed();
        case MSG_GETNEXT:
            return succeed(TWRC_ENDOFLIST);
        case MSG_OPENDS: {
            if (source)
                return fail(TWCC_MAXCONNECTIONS);
            TW_IDENTITY ours{};
            SaneSource::describe(ours);
            if (id->ProductName.text[0] != '\0' &&
                std::strncmp(id->ProductName.text, ours.ProductName.text, sizeof ours.ProductName.text) != 0)
                return fail(TWCC_NODS);
            ours.Id = ++lastSourceId;
            source = std::make_unique<SaneSource>(ours.Id);
            *id = ours;
            return succeed();
        }
        case MSG_CLOSEDS:
            if (!source)
                return fail(TWCC_SEQERROR);
            if (id->Id != source->id())
                return fail(TWCC_BADDEST);
            if (source->state() != 4)
                return fail(TWCC_SEQERROR);
            source.reset();
            return succeed();
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }

    TW_UINT16 toSource(TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        if (!open)
            return fail(TWCC_SEQERROR);
        if (!source || destination->Id != source->id())
            return fail(TWCC_BADDEST);
        const TW_UINT16 code = source->call(dg, dat, msg, data);
        if (!(dg == DG_CONTROL && dat == DAT_STATUS))
            condition = source->condition();
        return code;
    }

    bool open = false;
    TW_UINT16 condition = TWCC_SUCCESS;
    TW_UINT32 lastSourceId = 0;
    std::unique_ptr<SaneSource> source;
};

Manager& manager() {
    static Manager instance;
    return instance;
}

} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(TW_IDENTITY* origin,
                                                                      TW_IDENTITY* destination, TW_UINT32 dg,
                                                                      TW_UINT16 dat, TW_UINT16 msg,
                                                                      TW_MEMREF data) {
    static_assert(std::is_same_v<decltype(&DSM_Entry), DSMENTRYPROC>);
    try {
        return manager().entry(origin, destination, dg, dat, msg, data);
    } catch (const std::bad_alloc&) {
        manager().failed(TWCC_LOWMEMORY);
    } catch (...) {
        manager().failed(TWCC_BUMMER);
    }
    return TWRC_FAILURE;
}
