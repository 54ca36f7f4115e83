#pragma once

// A byte-stream connection with an input queue and optional write buffering.
//
// Every receive from the transport lands in the input queue, and all reads (lines, fixed byte counts,
// streams) are served from it, so a read never loses bytes that arrived together with the ones it wanted:
// they stay queued for the next read, also after the peer has closed. Writes go to the transport at once or,
// between StartWriteBuffering and StopWriteBuffering, collect in a pending buffer that leaves in one piece.
//
// The connection reaches its transport only through TIdIOHandler. It owns the handler only when it created
// it (OwnsIOHandler); an assigned handler or intercept is referenced and forgotten when it is destroyed.
// Reads block; a connection is used by one thread at a time.
//
// Time-outs are milliseconds: -1 means ReadTimeout, -2 waits without limit, and a ReadTimeout of 0 means -2.
// Each wait converts them once into a deadline (IdDeadline.h), never later than CallDeadline.
// Failures are exceptions of the EIdException tree (net/tcp/IdException.h).

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "net/tcp/IdBuffer.h"
#include "net/tcp/IdComponent.h"
#include "net/tcp/IdDeadline.h"
#include "net/tcp/IdRFCReply.h"
#include "platform/Classes.h"

class TIdIOHandler;
class TIdIOHandlerSocket;
class TIdConnectionIntercept;

using TNotifyEvent = std::function<void(TIdBaseComponent* sender)>;

// What ReadLine does with a line longer than MaxLineLength.
enum TIdMaxLineAction {
    maException, // raises EIdReadLnMaxLineLengthExceeded; the line stays queued
    maSplit      // returns the first MaxLineLength bytes and sets LineWasSplit; the rest stays queued
};

class TIdTCPConnection : public TIdComponent {
public:
    static constexpr int32_t kDefaultMaxLineLength = 16384;
    static constexpr int32_t kDefaultBufferSize = 32768;

    explicit TIdTCPConnection(TIdBaseComponent* owner = nullptr);
    ~TIdTCPConnection() override;

    // ---- properties -------------------------------------------------------------------------------------
    bool ASCIIFilter() const { return asciiFilter_; }
    void SetASCIIFilter(bool value) { asciiFilter_ = value; }
    TIdConnectionIntercept* Intercept() const { return intercept_; }
    void SetIntercept(TIdConnectionIntercept* intercept);
    TIdIOHandler* IOHandler() const { return ioHandler_; }
    // Frees the current handler first when the connection owns it.
    void SetIOHandler(TIdIOHandler* handler);
    // The assigned handler when it is a socket transport, else null.
    TIdIOHandlerSocket* Socket() const { return socket_; }
    int32_t MaxLineLength() const { return maxLineLength_; }
    void SetMaxLineLength(int32_t value) { maxLineLength_ = value; }
    TIdMaxLineAction MaxLineAction() const { return maxLineAction_; }
    void SetMaxLineAction(TIdMaxLineAction value) { maxLineAction_ = value; }
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t value) { readTimeout_ = value; }
    // A bound on every wait and connect, whatever their own time-outs (a protocol's limit for a whole call);
    // none by default. A wait it cuts short raises EIdReadTimeout like any other.
    const TIdDeadline& CallDeadline() const { return callDeadline_; }
    void SetCallDeadline(const TIdDeadline& value) { callDeadline_ = value; }
    // A receive or stream copy needs room for at least one byte, so sizes below 1 are taken as 1.
    int32_t RecvBufferSize() const { return recvBufferSize_; }
    void SetRecvBufferSize(int32_t value) { recvBufferSize_ = value < 1 ? 1 : value; }
    int32_t SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(int32_t value) { sendBufferSize_ = value < 1 ? 1 : value; }
    TNotifyEvent OnDisconnected;

    // How the last ReadLine ended.
    bool LineWasSplit() const { return lineWasSplit_; }
    bool LineTimedOut() const { return lineTimedOut_; }
    bool OwnsIOHandler() const { return ownsIOHandler_; }
    void SetOwnsIOHandler(bool value) { ownsIOHandler_ = value; }
    TIdManagedBuffer& InputQueue() { return inputQueue_; }
    bool WriteBuffering() const { return pendingWrites_ != nullptr; }
    TIdRFCReply& LastReply() { return lastReply_; }
    TIdRFCReply& GreetingReply() { return greetingReply_; }

    // ---- virtual operations -----------------------------------------------------------------------------
    // Fires OnDisconnected.
    virtual void DoOnDisconnected();
    // Empties the input queue and forgets a peer close; runs before every connect.
    virtual void ResetReadState();
    // Everything the peer sends until it closes (and whatever was still queued).
    virtual std::string ReadAll();
    // Notices a closed transport (dropping the socket once, with the disconnect report). With raiseIfClosed,
    // an ended connection raises EIdConnClosedGracefully when the queue is empty or ignoreQueue is set.
    virtual void DetectDisconnect(bool raiseIfClosed, bool ignoreQueue);
    // Picks up pending bytes or a close within 1 ms.
    virtual void ProbeDisconnect(bool raiseIfClosed);
    // False when allowed is not empty and does not hold the last reply's code.
    virtual bool ReplyCodeAllowed(const std::vector<int32_t>& allowed);
    virtual bool IsConnected();
    // Reports hsDisconnecting, drops the socket, frees an owned handler, fires the disconnect hook and
    // reports hsDisconnected.
    virtual void CloseConnection();
    // Closes the transport without freeing it and detaches the intercept.
    virtual void DropSocket();
    // Reads a reply and raises EIdProtocolReplyError when its code is not allowed; returns the code.
    virtual int32_t ExpectReply(const std::vector<int32_t>& allowed);
    [[noreturn]] virtual void RaiseReplyError();
    // Lets raise throw its own exception for the last reply's code and text; EIdProtocolReplyError when it
    // does not throw.
    using TReplyErrorFactory = std::function<void(int32_t code, const std::string& text)>;
    [[noreturn]] virtual void RaiseReplyError(const TReplyErrorFactory& raise);
    // One wait and receive into the queue. Returns the bytes added, 0 when the connection ended, -1 on a
    // time-out without raiseOnTimeout.
    virtual int32_t FillInputBuffer(bool raiseIfClosed, int32_t timeout, bool raiseOnTimeout);
    // The same with the wait ending by a deadline of the caller's (and never after CallDeadline).
    int32_t FillInputBufferBy(bool raiseIfClosed, const TIdDeadline& deadline, bool raiseOnTimeout);
    // One line without its terminator. With the default terminator a line ends in LF or CR LF (a lone CR
    // stays in the line); any other terminator is removed exactly. maximum -1 means MaxLineLength, 0 no
    // limit. A peer that closes after part of a line gives "" with LineTimedOut set (the part stays queued);
    // so does a time-out given explicitly (not -1).
    virtual std::string ReadLine(const std::string& terminator = "\n", int32_t timeout = -1, int32_t maximum = -1);
    virtual int32_t SendCommand(const std::string& text, const std::vector<int32_t>& allowed);
    virtual void WriteText(const std::string& text);
    // text followed by CR LF.
    virtual void WriteLine(const std::string& text);
    // Sends the stream from its position (or its start) to its end, or byteCount bytes when that is not 0,
    // optionally preceded by the count as a 4-byte big-endian prefix.
    virtual void WriteFromStream(TStream& stream, bool fromStart = true, bool withLengthPrefix = false,
                                 int64_t byteCount = 0);
    // Sends a file; returns the bytes sent. Raises EIdFileNotFound for a missing file.
    virtual int64_t WriteFileContents(const std::string& fileName, bool allowFastPath = true);

    // ---- reads --------------------------------------------------------------------------------------------
    // The first of up to tries lines that is not blank, trimmed; "" when all were blank.
    std::string ReadNonEmptyLine(int32_t tries);
    // Exactly n bytes. A peer that closes first raises EIdConnClosedGracefully; the partial bytes stay queued.
    void ReadBytes(void* buffer, int64_t n);
    int32_t ReadInt32(bool convert = true);
    // count bytes into stream at its position; count -1 reads a 4-byte big-endian length first (one of
    // 2^31 or more raises EIdException); with untilClosed everything until the peer closes. A memory stream
    // receives in place: its room grows ahead of the bytes in steps (for a known count the first at most
    // 1 MiB, then as much again as arrived, never past the count); its size covers only bytes that arrived.
    void ReadToStream(TStream& stream, int64_t count = -1, bool untilClosed = false);
    // One receive (when connected), then the whole queue.
    std::string ReadAvailable();
    int32_t ReadReply();

    // ---- writes -------------------------------------------------------------------------------------------
    void WriteBytes(const void* buffer, int64_t n, bool writeNow = false);
    void WriteInt32(int32_t value, bool convert = true);
    // threshold > 0 flushes automatically once that many bytes are pending; 0 or less never does.
    void StartWriteBuffering(int32_t threshold = -1);
    // Sends the first count pending bytes (all with -1, or when fewer are pending).
    void FlushWriteBuffering(int64_t count = -1);
    // Flushes, then ends buffering (also when the flush raised).
    void StopWriteBuffering();
    // Drops the pending bytes unsent.
    void DiscardWriteBuffering();

protected:
    void Notification(TIdBaseComponent* component, TOperation operation) override;

private:
    // The deadline of one wait of timeout milliseconds (-1: ReadTimeout).
    TIdDeadline WaitDeadline(int32_t timeout) const;
    // The 4-byte big-endian length before a stream: 0 .. 2^31-1, else EIdException.
    int64_t ReadLengthPrefix();
    // Receives once into the queue; the bytes added, 0 for a closed peer.
    int32_t ReceiveIntoQueue(bool raiseIfClosed);
    // Waits until the queue holds at least n bytes (the waiting half of ReadBytes).
    void WaitForQueued(int64_t n);
    // Room for the next n bytes at memory's position, reserved ahead in steps from start; remaining bounds
    // the room (-1: nothing does).
    static char* RoomForPiece(TMemoryStream& memory, int64_t start, int64_t n, int64_t remaining);
    // Receives exactly n bytes into target, with the failure behaviour of WaitForQueued.
    void ReceivePieceInPlace(char* target, int64_t n);
    // The one place direct_ changes: a piece starts (target, count bytes wanted), count bytes landed in it,
    // or it ends (complete, or abandoned by a failed read).
    enum class TPieceStep { Start, Landed, End };
    void StepDirectPiece(TPieceStep step, char* target = nullptr, int64_t count = 0);
    int64_t QueuedBytes() { return inputQueue_.Size() + direct_.held; }
    std::string SplitOrRaise(int32_t maximum);
    void SendNow(const char* data, int64_t n);
    void CheckSendResult(int32_t sent);
    // A receive or send of the transport returned -1. A code in goneCodes means the peer is gone: the socket
    // is dropped, and the failure raised only with raiseWhenGone. Any other code raises at once.
    void TransportFailed(std::initializer_list<int32_t> goneCodes, bool raiseWhenGone);
    void ReleaseOwnedIOHandler();

    bool asciiFilter_ = false;
    TIdConnectionIntercept* intercept_ = nullptr;
    TIdIOHandler* ioHandler_ = nullptr;
    TIdIOHandlerSocket* socket_ = nullptr;
    int32_t maxLineLength_ = kDefaultMaxLineLength;
    TIdMaxLineAction maxLineAction_ = maException;
    int32_t readTimeout_ = 0;
    TIdDeadline callDeadline_;
    int32_t recvBufferSize_ = kDefaultBufferSize;
    int32_t sendBufferSize_ = kDefaultBufferSize;

    TIdManagedBuffer inputQueue_;
    TIdSimpleBuffer receiveChunk_;
    std::unique_ptr<TIdSimpleBuffer> pendingWrites_;
    int32_t flushThreshold_ = -1;
    // The stream piece that receives land in while ReceivePieceInPlace runs; held bytes count as queued.
    struct TDirectPiece {
        char* target = nullptr;
        int64_t wanted = 0;
        int64_t held = 0;
    } direct_;
    bool peerClosed_ = false;
    bool lineWasSplit_ = false;
    bool lineTimedOut_ = false;
    bool ownsIOHandler_ = false;
    TIdRFCReply lastReply_;
    TIdRFCReply greetingReply_;
};
