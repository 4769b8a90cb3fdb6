#include "builtin_api.h"

#include "discovery.h"
#include "find_expression.h"
#include "query_format.h"
#include "resource_locks.h"
#include "resource_name.h"
#include "session_table.h"
#include "status_text.h"

#include <QtGlobal>

#include <cstring>

namespace visa {
namespace builtin {
namespace {

void copyName(const std::string &name, ViChar *desc)
{
    if (!desc)
        return;
    const size_t length = std::min(name.size(), static_cast<size_t>(VI_FIND_BUFLEN - 1));
    std::memcpy(desc, name.data(), length);
    desc[length] = '\0';
}

// The status for an operation on an object that is not an instrument session.
ViStatus notAnInstrument(ViObject vi)
{
    return SessionTable::instance().kind(vi) == SessionTable::ObjectKind::None ? VI_ERROR_INV_OBJECT
                                                                               : VI_ERROR_NSUP_OPER;
}

} // namespace

ViStatus openDefaultRM(ViPSession vi)
{
    if (!vi)
        return VI_ERROR_INV_PARAMETER;
    *vi = SessionTable::instance().addResourceManager();
    return VI_SUCCESS;
}

ViStatus findRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                  ViChar desc[])
{
    if (vi)
        *vi = VI_NULL;
    if (retCnt)
        *retCnt = 0;
    SessionTable &table = SessionTable::instance();
    if (!table.isResourceManager(sesn))
        return table.kind(sesn) == SessionTable::ObjectKind::None ? VI_ERROR_INV_SESSION
                                                                  : VI_ERROR_NSUP_OPER;
    FindExpression expression;
    if (!expr || !expression.compile(expr))
        return VI_ERROR_INV_EXPR;
    std::vector<std::string> matches;
    for (const std::string &name : discoverResources()) {
        if (expression.matches(name))
            matches.push_back(name);
    }
    if (matches.empty()) {
        if (desc)
            desc[0] = '\0';
        return VI_ERROR_RSRC_NFOUND;
    }
    copyName(matches.front(), desc);
    if (retCnt)
        *retCnt = static_cast<ViUInt32>(matches.size());
    if (vi) {
        matches.erase(matches.begin());
        const ViFindList list =
            table.addFindList(sesn, std::make_shared<FindList>(std::move(matches)));
        if (list == VI_NULL)
            return VI_ERROR_INV_SESSION;
        *vi = list;
    }
    return VI_SUCCESS;
}

ViStatus findNext(ViFindList vi, ViChar desc[])
{
    std::shared_ptr<FindList> list = SessionTable::instance().findList(vi);
    if (!list)
        return notAnInstrument(vi) == VI_ERROR_INV_OBJECT ? VI_ERROR_INV_OBJECT
                                                          : VI_ERROR_NSUP_OPER;
    if (!desc)
        return VI_ERROR_USER_BUF;
    std::string name;
    if (!list->next(&name)) {
        desc[0] = '\0';
        return VI_ERROR_RSRC_NFOUND;
    }
    copyName(name, desc);
    return VI_SUCCESS;
}

ViStatus open(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi)
{
    if (!vi)
        return VI_ERROR_INV_PARAMETER;
    *vi = VI_NULL;
    SessionTable &table = SessionTable::instance();
    if (!table.isResourceManager(sesn))
        return table.kind(sesn) == SessionTable::ObjectKind::None ? VI_ERROR_INV_SESSION
                                                                  : VI_ERROR_NSUP_OPER;
    if (!name)
        return VI_ERROR_INV_RSRC_NAME;
    if ((mode & ~static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG)) ||
        ((mode & VI_EXCLUSIVE_LOCK) && (mode & VI_SHARED_LOCK)))
        return VI_ERROR_INV_ACC_MODE;
    ResourceName parsed;
    ViStatus status = parseResourceName(name, &parsed);
    if (status != VI_SUCCESS) {
        qDebug("VISA 资源名无法使用: %s (0x%08X)", name, static_cast<unsigned>(status));
        return status;
    }

    const ViObject id = table.reserveNumber();
    auto session = std::make_shared<InstrumentSession>(id, parsed);
    status = session->resolve();
    if (status == VI_SUCCESS)
        status = acquireResourceLock(session->lockKey(), id, mode, timeout);
    if (status != VI_SUCCESS) {
        table.releaseNumber(id);
        return status;
    }
    status = session->open(table.managerTimeout(sesn));
    if (status < VI_SUCCESS) {
        releaseResourceLock(session->lockKey(), id);
        table.releaseNumber(id);
        return status;
    }
    if (!table.addInstrument(sesn, session)) {
        // The resource manager was closed while this session was being opened.
        shutDownInstrument(session);
        return VI_ERROR_INV_SESSION;
    }
    *vi = id;
    return (mode & VI_LOAD_CONFIG) ? VI_WARN_CONFIG_NLOADED : VI_SUCCESS;
}

ViStatus close(ViObject vi)
{
    return SessionTable::instance().close(vi);
}

ViStatus setAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue)
{
    SessionTable &table = SessionTable::instance();
    switch (table.kind(vi)) {
    case SessionTable::ObjectKind::None:
        return VI_ERROR_INV_OBJECT;
    case SessionTable::ObjectKind::Manager:
        if (attrName != VI_ATTR_TMO_VALUE)
            return VI_ERROR_NSUP_ATTR;
        if (attrValue > 0xFFFFFFFFull)
            return VI_ERROR_NSUP_ATTR_STATE;
        return table.setManagerTimeout(vi, static_cast<ViUInt32>(attrValue)) ? VI_SUCCESS
                                                                             : VI_ERROR_INV_OBJECT;
    case SessionTable::ObjectKind::Find:
        return VI_ERROR_NSUP_ATTR;
    case SessionTable::ObjectKind::Instrument:
        break;
    }
    std::shared_ptr<InstrumentSession> session = table.instrument(vi);
    return session ? session->setAttribute(attrName, attrValue) : VI_ERROR_INV_OBJECT;
}

ViStatus write(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (retCnt)
        *retCnt = 0;
    std::shared_ptr<InstrumentSession> session = SessionTable::instance().instrument(vi);
    if (!session)
        return notAnInstrument(vi);
    if (!buf && cnt > 0)
        return VI_ERROR_USER_BUF;
    ViUInt32 written = 0;
    const ViStatus status = session->write(buf, cnt, &written);
    if (retCnt)
        *retCnt = written;
    return status;
}

ViStatus read(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (retCnt)
        *retCnt = 0;
    std::shared_ptr<InstrumentSession> session = SessionTable::instance().instrument(vi);
    if (!session)
        return notAnInstrument(vi);
    if (!buf && cnt > 0)
        return VI_ERROR_USER_BUF;
    ViUInt32 got = 0;
    const ViStatus status = session->read(buf, cnt, &got);
    if (retCnt)
        *retCnt = got;
    return status;
}

ViStatus vQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params)
{
    std::shared_ptr<InstrumentSession> session = SessionTable::instance().instrument(vi);
    if (!session)
        return notAnInstrument(vi);
    // Both formats are checked before anything is written, so a refused query leaves no reply
    // behind on the instrument.
    ViStatus status = checkWriteFormat(writeFmt);
    if (status != VI_SUCCESS)
        return status;
    ReadFormat readFormat;
    status = parseReadFormat(readFmt, &readFormat);
    if (status != VI_SUCCESS)
        return status;
    va_list args;
    va_copy(args, params);
    const std::string message = expandWriteFormat(writeFmt, &args);
    char *reply = readFormat.present ? va_arg(args, char *) : nullptr;
    va_end(args);
    if (readFormat.present && !reply)
        return VI_ERROR_USER_BUF;

    return session->exclusively([&]() -> ViStatus {
        // A line feed ends a message: each line goes out as one write.
        size_t start = 0;
        while (start < message.size()) {
            size_t end = message.find('\n', start);
            end = end == std::string::npos ? message.size() : end + 1;
            ViUInt32 written = 0;
            const ViStatus writeStatus =
                session->writeLocked(reinterpret_cast<const ViByte *>(message.data() + start),
                                     static_cast<ViUInt32>(end - start), &written);
            if (writeStatus < VI_SUCCESS)
                return writeStatus;
            start = end;
        }
        if (!readFormat.present)
            return VI_SUCCESS;
        ViUInt32 got = 0;
        const ViStatus readStatus = session->readLocked(
            reinterpret_cast<ViByte *>(reply), static_cast<ViUInt32>(readFormat.width), &got);
        reply[got] = '\0';
        if (readStatus == VI_SUCCESS_MAX_CNT) {
            // The reply does not fit: the rest is read and dropped so that it cannot be taken
            // for the answer to the next query.
            const ViStatus discardStatus = session->discardToEndLocked();
            return discardStatus < VI_SUCCESS ? discardStatus : VI_SUCCESS_MAX_CNT;
        }
        return readStatus < VI_SUCCESS ? readStatus : VI_SUCCESS;
    });
}

ViStatus statusDesc(ViObject, ViStatus status, ViChar desc[])
{
    if (!desc)
        return VI_ERROR_USER_BUF;
    return describeStatus(status, desc, VI_FIND_BUFLEN);
}

} // namespace builtin
} // namespace visa
