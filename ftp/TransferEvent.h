// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

namespace zodaru {

// One step of a transfer as an engine tells it: typed, so that nothing inside the program
// has to read numbers back from text. It becomes the string-keyed user information of a
// notification only where it leaves the process (the session-bus broadcast) or reaches an
// observer registered by name.
struct TransferEvent {
    enum class Kind : quint8 {
        DownloadChunk, // "ChunkOfFile": `bytes` read
        UploadChunk,   // "ChunkOfFileUploaded": `bytes` written
        Downloaded,    // "FileSaved": `bytes` received in all, `status` the completion
        Uploaded,      // "FileSend": `bytes` the whole local file, `status` the completion
    };

    quint64 engine = 0; // FTP::id() of the engine that moved the data; never reused
    Kind kind = Kind::DownloadChunk;
    qint32 file = 0;    // the transfer's identifier given to get() or put()
    qint64 bytes = 0;
    // With Downloaded and Uploaded: the completion reply's code, or -1 when the transfer
    // broke (nothing kept as whole).
    int status = 0;

    bool isEnd() const { return kind == Kind::Downloaded || kind == Kind::Uploaded; }
    bool isDownload() const { return kind == Kind::DownloadChunk || kind == Kind::Downloaded; }
};

// Where an engine's transfer events go. transferEvent() is called on the thread that moves
// the data, in the order of the data; the end of a transfer comes last.
class TransferEventSink {
public:
    virtual ~TransferEventSink() = default;
    virtual void transferEvent(const TransferEvent &event) = 0;
};

} // namespace zodaru
