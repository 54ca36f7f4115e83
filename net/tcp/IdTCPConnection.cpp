#include "net/tcp/IdTCPConnection.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdIntercept.h"
#include "net/tcp/IdSocketHandle.h"
#include "net/tcp/IdStack.h"
#include "platform/TextUtil.h"

namespace {

// The most a stated count reserves before any of its bytes arrived.
constexpr int64_t kFirstReserve = int64_t{1} << 20;

// Receive failures that mean the connection is gone rather than broken: shut down, connection aborted.
const std::initializer_list<int32_t> kReceiveClosedCodes = {Id_WSAESHUTDOWN, Id_WSAECONNABORTED};
// While sending, a reset peer counts as gone as well.
const std::initializer_list<int32_t> kSendClosedCodes = {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET};

// Offset of terminator in data[from, size), or -1.
int64_t FindTerminator(const char* data, int64_t size, int64_t from, const std::string& terminator)
{
    if (terminator.size() == 1) {
        const void* hit = std::memchr(data + from, terminator[0], static_cast<size_t>(size - from));
        return hit ? static_cast<const char*>(hit) - data : -1;
    }
    const std::string_view view(data, static_cast<size_t>(size));
    const size_t at = view.find(terminator, static_cast<size_t>(from));
    return at == std::string_view::npos ? -1 : static_cast<int64_t>(at);
}

class TWorkFinish {
public:
    TWorkFinish(TIdComponent& owner, TWorkMode mode) : owner_(owner), mode_(mode) {}
    ~TWorkFinish() { owner_.WorkFinished(mode_); }
    TWorkFinish(const TWorkFinish&) = delete;
    TWorkFinish& operator=(const TWorkFinish&) = delete;

private:
    TIdComponent& owner_;
    TWorkMode mode_;
};

} // namespace

TIdTCPConnection::TIdTCPConnection(TIdBaseComponent* owner) : TIdComponent(owner)
{
    // Read progress is counted as bytes leave the queue, whichever read takes them.
    inputQueue_.BytesRemovedHook = [this](TIdSimpleBuffer&, int64_t count) { WorkProgress(wmRead, count); };
}

TIdTCPConnection::~TIdTCPConnection()
{
    TIdTCPConnection::DropSocket();
    ReleaseOwnedIOHandler();
    inputQueue_.BytesRemovedHook = nullptr;
}

// ---- properties ---------------------------------------------------------------------------------------------

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* intercept) { Relink(intercept_, intercept); }

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler)
{
    if (handler == ioHandler_) return;
    if (ownsIOHandler_) {
        ReleaseOwnedIOHandler();
    } else if (ioHandler_) {
        ioHandler_->RemoveFreeNotification(this);
    }
    ioHandler_ = handler;
    socket_ = dynamic_cast<TIdIOHandlerSocket*>(handler);
    if (ioHandler_) ioHandler_->FreeNotification(this);
}

void TIdTCPConnection::ReleaseOwnedIOHandler()
{
    if (!ownsIOHandler_ || !ioHandler_) {
        ownsIOHandler_ = false;
        return;
    }
    TIdIOHandler* handler = ioHandler_;
    handler->RemoveFreeNotification(this);
    ioHandler_ = nullptr;
    socket_ = nullptr;
    ownsIOHandler_ = false;
    delete handler;
}

void TIdTCPConnection::Notification(TIdBaseComponent* component, TOperation operation)
{
    TIdComponent::Notification(component, operation);
    if (operation != opRemove) return;
    if (component == ioHandler_) {
        ioHandler_ = nullptr;
        socket_ = nullptr;
        ownsIOHandler_ = false;
    }
    if (component == intercept_) intercept_ = nullptr;
}

// ---- state ----------------------------------------------------------------------------------------------------

void TIdTCPConnection::DoOnDisconnected()
{
    if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::ResetReadState()
{
    inputQueue_.SetSize(0);
    peerClosed_ = false;
}

void TIdTCPConnection::DetectDisconnect(bool raiseIfClosed, bool ignoreQueue)
{
    bool ended = false;
    if (peerClosed_ || !ioHandler_) {
        // Without a transport there is nothing that could have ended; the callers report "Not Connected".
        if (ioHandler_) {
            ended = true;
            if (ioHandler_->IsOpen()) {
                DropSocket();
                ReportStatus(hsDisconnected);
                DoOnDisconnected();
            }
        }
    } else {
        ended = !ioHandler_->IsOpen();
    }
    // Bytes still queued remain readable after the peer closed, unless the caller needs more than them.
    if (ended && raiseIfClosed && (ignoreQueue || QueuedBytes() == 0)) throw EIdConnClosedGracefully();
}

void TIdTCPConnection::ProbeDisconnect(bool raiseIfClosed) { FillInputBuffer(raiseIfClosed, 1, false); }

bool TIdTCPConnection::IsConnected()
{
    DetectDisconnect(false, false);
    return ioHandler_ && ioHandler_->IsOpen();
}

void TIdTCPConnection::DropSocket()
{
    if (!ioHandler_) return;
    peerClosed_ = true;
    if (intercept_) intercept_->DetachConnection();
    ioHandler_->CloseTransport();
}

void TIdTCPConnection::CloseConnection()
{
    ReportStatus(hsDisconnecting);
    DropSocket();
    ReleaseOwnedIOHandler();
    DoOnDisconnected();
    ReportStatus(hsDisconnected);
}

// ---- receiving ----------------------------------------------------------------------------------------------

TIdDeadline TIdTCPConnection::WaitDeadline(int32_t timeout) const
{
    if (timeout == -1) timeout = readTimeout_ == 0 ? -2 : readTimeout_;
    return DeadlineAfter(timeout).Earlier(callDeadline_);
}

int32_t TIdTCPConnection::FillInputBuffer(bool raiseIfClosed, int32_t timeout, bool raiseOnTimeout)
{
    return FillInputBufferBy(raiseIfClosed, WaitDeadline(timeout), raiseOnTimeout);
}

int32_t TIdTCPConnection::FillInputBufferBy(bool raiseIfClosed, const TIdDeadline& until, bool raiseOnTimeout)
{
    const TIdDeadline deadline = until.Earlier(callDeadline_);
    DetectDisconnect(raiseIfClosed, false);
    if (!IsConnected()) {
        if (raiseIfClosed) throw EIdNotConnected();
        return 0;
    }
    // Without a limit and without a yield hook to run while waiting, the wait would only precede a receive
    // that blocks anyway; skipping it halves the system calls of a bulk transfer.
    const bool waitFirst = deadline.Limited() || TIdAntiFreezeBase::ShouldYield();
    int32_t n = 0;
    do {
        if (waitFirst && !ioHandler_->WaitReadable(deadline)) {
            if (raiseOnTimeout) throw EIdReadTimeout();
            return -1;
        }
        n = ReceiveIntoQueue(raiseIfClosed);
        DetectDisconnect(raiseIfClosed, false);
    } while (n == 0 && IsConnected());
    return n;
}

int32_t TIdTCPConnection::ReceiveIntoQueue(bool raiseIfClosed)
{
    if (!ioHandler_) {
        if (raiseIfClosed) throw EIdNotConnected();
        return 0;
    }
    // Where the bytes land: the piece a stream read is filling, else the queue's tail. An intercept needs
    // them as a stream of their own first, since it may rewrite them.
    char* tail;
    int32_t length = recvBufferSize_;
    if (direct_.target) {
        tail = direct_.target + direct_.held;
        length = static_cast<int32_t>(std::min<int64_t>(length, direct_.wanted - direct_.held));
    } else if (intercept_) {
        receiveChunk_.SetSize(0);
        tail = receiveChunk_.ReserveTail(length);
    } else {
        tail = inputQueue_.ReserveTail(length);
    }
    int32_t n = ioHandler_->ReceiveSome(tail, length);
    peerClosed_ = (n == 0);
    if (n == -1) TransportFailed(kReceiveClosedCodes, QueuedBytes() == 0);
    if (n <= 0) return 0;
    if (direct_.target) {
        StepDirectPiece(TPieceStep::Landed, nullptr, n);
    } else if (intercept_) {
        receiveChunk_.CommitTail(n);
        receiveChunk_.SetPosition(0);
        intercept_->FilterReceived(receiveChunk_);
        n = static_cast<int32_t>(receiveChunk_.Size());
        tail = receiveChunk_.Memory();
    } else {
        inputQueue_.CommitTail(n);
    }
    if (asciiFilter_) {
        for (int32_t i = 0; i < n; ++i) tail[i] = static_cast<char>(tail[i] & 0x7F);
    }
    if (intercept_ && !direct_.target) inputQueue_.Append(receiveChunk_.Memory(), n);
    return n;
}

void TIdTCPConnection::WaitForQueued(int64_t n)
{
    while (QueuedBytes() < n) {
        FillInputBuffer(true, -1, true);
        DetectDisconnect(true, true);
    }
}

void TIdTCPConnection::ReadBytes(void* buffer, int64_t n)
{
    if (n <= 0 || !buffer) return;
    WaitForQueued(n);
    std::memcpy(buffer, inputQueue_.DataStart(), static_cast<size_t>(n));
    inputQueue_.Discard(n);
}

int32_t TIdTCPConnection::ReadInt32(bool convert)
{
    uint32_t value = 0;
    ReadBytes(&value, sizeof(value));
    return static_cast<int32_t>(convert ? ntohl(value) : value);
}

std::string TIdTCPConnection::SplitOrRaise(int32_t maximum)
{
    if (maxLineAction_ == maException) throw EIdReadLnMaxLineLengthExceeded();
    lineWasSplit_ = true;
    return inputQueue_.TakeText(maximum);
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int32_t timeout, int32_t maximum)
{
    if (maximum == -1) maximum = maxLineLength_;
    const std::string term = terminator.empty() ? std::string("\n") : terminator;
    lineWasSplit_ = false;
    lineTimedOut_ = false;
    // Bytes before `searched` can no longer start the terminator, so each byte is looked at once. For a
    // terminator of several bytes the last length-1 bytes are searched again after the next receive, so a
    // terminator split across two receives is still found; those bytes do not count toward the limit yet.
    int64_t searched = 0;
    const int64_t overlap = static_cast<int64_t>(term.size()) - 1;
    for (;;) {
        int64_t found = -1;
        const int64_t size = inputQueue_.Size();
        if (size > searched) {
            found = FindTerminator(inputQueue_.DataStart(), size, searched, term);
            searched = std::max(searched, size - overlap);
        }
        if (found >= 0) {
            if (maximum != 0 && found > maximum) return SplitOrRaise(maximum);
            std::string line = inputQueue_.TakeText(found + static_cast<int64_t>(term.size()));
            line.resize(static_cast<size_t>(found));
            if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (maximum != 0 && searched > maximum) return SplitOrRaise(maximum);
        // A connection already known to be closed cannot complete the line, even with part of it queued.
        DetectDisconnect(true, true);
        const int32_t added = FillInputBuffer(true, timeout, timeout == -1);
        // 0: the peer closed during the wait; -1: an explicit time-out passed. Either way the partial line
        // stays queued and the caller learns why nothing came from LineTimedOut.
        if (added <= 0) {
            lineTimedOut_ = true;
            return std::string();
        }
    }
}

std::string TIdTCPConnection::ReadNonEmptyLine(int32_t tries)
{
    for (int32_t i = 0; i < tries; ++i) {
        std::string line(TrimBlanks(ReadLine()));
        if (!line.empty()) return line;
    }
    return std::string();
}

int64_t TIdTCPConnection::ReadLengthPrefix()
{
    const uint32_t prefix = static_cast<uint32_t>(ReadInt32(true));
    if (prefix > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        throw EIdException("Length prefix " + std::to_string(prefix) + " is not a valid length.");
    }
    return prefix;
}

void TIdTCPConnection::ReadToStream(TStream& stream, int64_t count, bool untilClosed)
{
    if (count == -1 && !untilClosed) count = ReadLengthPrefix();
    const int64_t start = stream.Position();
    // Until closed the amount is open-ended; a fixed cap would silently cut long bodies short.
    int64_t remaining = untilClosed ? std::numeric_limits<int64_t>::max() : std::max<int64_t>(count, 0);
    WorkStarted(wmRead, untilClosed ? 0 : remaining);
    TWorkFinish finish(*this, wmRead);

    const int64_t queued = std::min(inputQueue_.Size(), remaining);
    if (queued > 0) {
        stream.WriteBuffer(inputQueue_.DataStart(), queued);
        inputQueue_.Discard(queued);
        remaining -= queued;
    }
    // The bytes go to the stream in RecvBufferSize pieces; a piece is written only once it is complete, so a
    // failed read leaves its bytes queued rather than half in the stream. A memory stream takes its pieces
    // straight from the receives, in room reserved ahead of them.
    TMemoryStream* memory = dynamic_cast<TMemoryStream*>(&stream);
    while (remaining > 0 && IsConnected()) {
        int64_t n = std::min<int64_t>(remaining, recvBufferSize_);
        try {
            if (memory && !intercept_ && inputQueue_.Size() == 0) {
                ReceivePieceInPlace(RoomForPiece(*memory, start, n, untilClosed ? -1 : remaining), n);
                memory->Commit(n);
                WorkProgress(wmRead, n);
                remaining -= n;
                continue;
            }
            WaitForQueued(n);
        } catch (const EIdConnClosedGracefully&) {
            if (!untilClosed) throw;
            n = inputQueue_.Size();
        }
        stream.WriteBuffer(inputQueue_.DataStart(), n);
        inputQueue_.Discard(n);
        remaining -= n;
    }
}

char* TIdTCPConnection::RoomForPiece(TMemoryStream& memory, int64_t start, int64_t n, int64_t remaining)
{
    // A stated count (the peer's, mostly) is a hint, not a promise: the room runs at most a bounded first step
    // ahead, then as much again as has arrived, never past the count; so a false claim costs memory only in
    // proportion to what was really sent, and a true one is reserved in a few steps. Many short reads into
    // one stream (the chunks of a body) still grow it by half again each time, not by one read at a time.
    const int64_t position = memory.Position();
    if (memory.Capacity() < position + n) {
        const int64_t arrived = position - start;
        int64_t room = std::max(arrived + n, 2 * arrived);
        if (remaining >= 0) room = std::min(std::max(room, kFirstReserve), arrived + remaining);
        memory.Reserve(std::max(start + room, std::min(memory.Capacity() / 2 * 3, 2 * position)));
    }
    return memory.Memory() + position;
}

void TIdTCPConnection::ReceivePieceInPlace(char* target, int64_t n)
{
    // A memory stream with room reserved for the piece lets the receives land there and skip the
    // copy through the queue.
    struct TPiece {
        TIdTCPConnection& c;
        ~TPiece() { c.StepDirectPiece(TPieceStep::End); }
    } piece{*this};
    StepDirectPiece(TPieceStep::Start, target, n);
    WaitForQueued(n);
}

void TIdTCPConnection::StepDirectPiece(TPieceStep step, char* target, int64_t count)
{
    switch (step) {
    case TPieceStep::Start: direct_ = {target, count, 0}; break;
    case TPieceStep::Landed: direct_.held += count; break;
    case TPieceStep::End:
        // A piece that did not complete (the read failed) leaves its bytes in the queue, exactly where the
        // ordinary path would have left them; a complete one belongs to the stream.
        if (direct_.held < direct_.wanted && direct_.held > 0) inputQueue_.Append(direct_.target, direct_.held);
        direct_ = {};
        break;
    }
}

std::string TIdTCPConnection::ReadAvailable()
{
    if (IsConnected()) FillInputBuffer(false, -1, true);
    return inputQueue_.TakeText(inputQueue_.Size());
}

std::string TIdTCPConnection::ReadAll()
{
    WorkStarted(wmRead, 0);
    TWorkFinish finish(*this, wmRead);
    std::string all;
    while (IsConnected()) all += ReadAvailable();
    // Bytes that arrived together with the close (or before this call) belong to the result too.
    all += inputQueue_.TakeText(inputQueue_.Size());
    return all;
}

// ---- line-protocol replies -----------------------------------------------------------------------------------

int32_t TIdTCPConnection::ReadReply()
{
    TStringList lines;
    const std::string first = ReadNonEmptyLine(std::numeric_limits<int32_t>::max());
    lines.Add(first);
    if (first.size() > 3 && first[3] == '-') {
        // A multi-line reply ends with the line that repeats the code followed by a blank.
        const std::string last = first.substr(0, 3) + " ";
        for (;;) {
            const std::string line = ReadNonEmptyLine(std::numeric_limits<int32_t>::max());
            lines.Add(line);
            if (line.size() < 4 || SameText(line.substr(0, 4), last)) break;
        }
    }
    lastReply_.ParseLines(lines);
    return lastReply_.NumericCode();
}

bool TIdTCPConnection::ReplyCodeAllowed(const std::vector<int32_t>& allowed)
{
    return allowed.empty() || std::find(allowed.begin(), allowed.end(), lastReply_.NumericCode()) != allowed.end();
}

int32_t TIdTCPConnection::ExpectReply(const std::vector<int32_t>& allowed)
{
    ReadReply();
    if (!ReplyCodeAllowed(allowed)) RaiseReplyError();
    return lastReply_.NumericCode();
}

void TIdTCPConnection::RaiseReplyError()
{
    throw EIdProtocolReplyError(lastReply_.NumericCode(), lastReply_.JoinedText());
}

void TIdTCPConnection::RaiseReplyError(const TReplyErrorFactory& raise)
{
    if (raise) raise(lastReply_.NumericCode(), lastReply_.JoinedText());
    // A factory that did not throw still must not let the caller go on as if the reply were fine.
    throw EIdProtocolReplyError(lastReply_.NumericCode(), lastReply_.JoinedText());
}

int32_t TIdTCPConnection::SendCommand(const std::string& text, const std::vector<int32_t>& allowed)
{
    WriteLine(text);
    return ExpectReply(allowed);
}

// ---- writing ----------------------------------------------------------------------------------------------------

void TIdTCPConnection::WriteBytes(const void* buffer, int64_t n, bool writeNow)
{
    if (n <= 0 || !buffer) return;
    DetectDisconnect(true, true);
    if (!IsConnected()) throw EIdNotConnected();
    if (pendingWrites_ && !writeNow) {
        pendingWrites_->Append(buffer, n);
        if (flushThreshold_ > 0 && pendingWrites_->Size() >= flushThreshold_) FlushWriteBuffering(flushThreshold_);
        return;
    }
    if (!intercept_) {
        SendNow(static_cast<const char*>(buffer), n);
        return;
    }
    // The intercept may rewrite the bytes, so it gets a copy of its own.
    TIdSimpleBuffer outgoing;
    outgoing.Append(buffer, n);
    outgoing.SetPosition(0);
    intercept_->FilterOutgoing(outgoing);
    SendNow(outgoing.Memory(), outgoing.Size());
}

void TIdTCPConnection::SendNow(const char* data, int64_t n)
{
    int64_t offset = 0;
    while (offset < n) {
        const int32_t piece = static_cast<int32_t>(std::min<int64_t>(n - offset, std::numeric_limits<int32_t>::max()));
        const int32_t sent = ioHandler_->SendSome(data + offset, piece);
        TIdAntiFreezeBase::YieldToApplication(false, false);
        peerClosed_ = (sent == 0);
        CheckSendResult(sent);
        // A send that moved nothing means the peer is gone, whatever is still queued for reading.
        if (sent <= 0) throw EIdConnClosedGracefully();
        WorkProgress(wmWrite, sent);
        offset += sent;
    }
}

void TIdTCPConnection::CheckSendResult(int32_t sent)
{
    if (sent == -1) TransportFailed(kSendClosedCodes, true);
    DetectDisconnect(true, false);
}

void TIdTCPConnection::TransportFailed(std::initializer_list<int32_t> goneCodes, bool raiseWhenGone)
{
    // The stack's check raises for every code but those saying the connection is gone. For those the socket
    // is dropped first; the code was read before, since closing makes socket calls of its own.
    if (!GlobalStack->CheckSocketResult(Id_SOCKET_ERROR, goneCodes)) return;
    const int32_t code = GlobalStack->LastErrorCode();
    DropSocket();
    if (raiseWhenGone) GlobalStack->RaiseSocketFailure(code);
}

void TIdTCPConnection::WriteInt32(int32_t value, bool convert)
{
    const uint32_t raw = convert ? htonl(static_cast<uint32_t>(value)) : static_cast<uint32_t>(value);
    WriteBytes(&raw, sizeof(raw));
}

void TIdTCPConnection::WriteText(const std::string& text)
{
    WriteBytes(text.data(), static_cast<int64_t>(text.size()));
}

void TIdTCPConnection::WriteLine(const std::string& text) { WriteText(text + "\r\n"); }

void TIdTCPConnection::StartWriteBuffering(int32_t threshold)
{
    // Nested starts keep what is pending: dropping it would lose data and sending it would break the
    // caller's wish for one piece.
    if (!pendingWrites_) pendingWrites_ = std::make_unique<TIdSimpleBuffer>();
    flushThreshold_ = threshold;
}

void TIdTCPConnection::FlushWriteBuffering(int64_t count)
{
    if (!pendingWrites_ || pendingWrites_->Size() == 0) return;
    if (count != -1 && pendingWrites_->Size() >= count) {
        WriteBytes(pendingWrites_->Memory(), count, true);
        pendingWrites_->Discard(count);
    } else {
        WriteBytes(pendingWrites_->Memory(), pendingWrites_->Size(), true);
        pendingWrites_->SetSize(0);
    }
}

void TIdTCPConnection::StopWriteBuffering()
{
    // Buffering ends even when the flush raises; the unsent bytes go with it.
    struct TEnd {
        std::unique_ptr<TIdSimpleBuffer>& pending;
        ~TEnd() { pending.reset(); }
    } end{pendingWrites_};
    FlushWriteBuffering(-1);
}

void TIdTCPConnection::DiscardWriteBuffering()
{
    if (pendingWrites_) pendingWrites_->SetSize(0);
}

void TIdTCPConnection::WriteFromStream(TStream& stream, bool fromStart, bool withLengthPrefix, int64_t byteCount)
{
    if (fromStart) stream.SetPosition(0);
    int64_t position = stream.Position();
    const int64_t end = byteCount != 0 ? position + byteCount : stream.Size();
    if (withLengthPrefix) WriteInt32(static_cast<int32_t>(std::max<int64_t>(end - position, 0)), true);
    WorkStarted(wmWrite, std::max<int64_t>(end - position, 0));
    TWorkFinish finish(*this, wmWrite);
    std::vector<char> block(static_cast<size_t>(sendBufferSize_));
    for (;;) {
        const int64_t n = std::min<int64_t>(end - position, sendBufferSize_);
        if (n <= 0) break;
        const int64_t got = stream.Read(block.data(), n);
        if (got <= 0) throw EIdNoDataToRead();
        WriteBytes(block.data(), got);
        position += got;
    }
}

int64_t TIdTCPConnection::WriteFileContents(const std::string& fileName, bool allowFastPath)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error)) throw EIdFileNotFound(fileName);
    // The kernel's file send bypasses the pending-write buffer, so it would overtake bytes still buffered;
    // while buffering is on the file goes through the buffer like any other write.
    TFileStream file(fileName, fmOpenRead);
    // The kernel's file send writes to the socket directly, past any encryption of the transport.
    if (ServeFileHook && !intercept_ && allowFastPath && socket_ && !socket_->IsTLS() && !pendingWrites_ &&
        socket_->SocketHandle()) {
        const int64_t sent = ServeFileHook(socket_->SocketHandle()->Handle(), fileName);
        // The hook answers 0 when the send failed; for a file with content that is a failure, not success,
        // and the socket call left its error code behind.
        if (sent == 0 && file.Size() > 0) GlobalStack->CheckSocketResult(Id_SOCKET_ERROR);
        return sent;
    }
    WriteFromStream(file, true, false, 0);
    return file.Size();
}
