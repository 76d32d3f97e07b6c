// builtins/files/stream_builtins.cpp
// The stream built-ins over a table of open stdio streams.
#include "builtins/files/stream_builtins.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "builtins/files/file_arguments.h"
#include "builtins/handles/handle_table.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace qob {
namespace {

struct StreamRecord {
    std::FILE* file = nullptr;
    bool textMode = false;  // opened without "b": readstring drops a CRLF's CR
    char* line = nullptr;   // getline's buffer, kept for the next line
    size_t lineRoom = 0;

    ~StreamRecord() {
        if (file) std::fclose(file);
        std::free(line);
    }
};

HandleTable<StreamRecord>& Streams() {
    static HandleTable<StreamRecord> table;
    return table;
}

StreamRecord* PopStream() {
    StackEntry handle = TakeOperand();
    StreamRecord* stream = Streams().Find(ArgumentInteger(handle));
    ReleaseOperand(handle);
    return stream;
}

// The program's mode without the "t" that only the device's library knows.
std::string HostMode(std::string mode) {
    std::erase(mode, 't');
    return mode;
}

// How many items of size bytes may move through the buffer: all count of
// them when it starts no block (the address is then the program's
// responsibility, checked for access), else as many as its exact size holds.
size_t ItemsInBounds(void* buffer, uint64_t size, uint64_t count) {
    if (!buffer || size == 0 || count == 0) return 0;
    const size_t room = KnownBlockRoom(buffer);
    if (room > 0) return static_cast<size_t>(std::min<uint64_t>(count, room / size));
    const uint64_t bytes = size * count;  // both below 2^31: no overflow
    if (platform::IsBadWritePtr(buffer, static_cast<size_t>(bytes)) != 0) return 0;
    return static_cast<size_t>(count);
}

// Pops (buffer, size, count, handle) and pushes the items moved by transfer.
template <typename Transfer>
void RunTransfer(bool writing, Transfer transfer) {
    StreamRecord* stream = PopStream();
    StackEntry countArgument = TakeOperand();
    StackEntry sizeArgument = TakeOperand();
    StackEntry bufferArgument = TakeOperand();
    int64_t size = ArgumentInteger(sizeArgument);
    int64_t count = ArgumentInteger(countArgument);
    // fread takes the count's absolute value, fwrite the size's.
    if (writing) size = std::llabs(size);
    else count = std::llabs(count);
    void* buffer = AddressArgument(bufferArgument);
    size_t moved = 0;
    if (stream && size >= 0 && count >= 0) {
        const size_t items = ItemsInBounds(buffer, static_cast<uint64_t>(size), static_cast<uint64_t>(count));
        if (items > 0) moved = transfer(buffer, static_cast<size_t>(size), items, stream->file);
    }
    ReleaseOperand(bufferArgument);
    ReleaseOperand(sizeArgument);
    ReleaseOperand(countArgument);
    PushNumberResult(static_cast<double>(moved));
}

}  // namespace

size_t CountOpenStreams() { return Streams().Count(); }

void Builtin_fopen() {
    StackEntry modeArgument = TakeOperand();
    StackEntry pathArgument = TakeOperand();
    const std::string mode = StringArgument(modeArgument);
    const std::string hostMode = HostMode(mode);
    std::FILE* file = hostMode.empty() ? nullptr : platform::OpenFile(StringArgument(pathArgument), hostMode.c_str());
    ReleaseOperand(pathArgument);
    ReleaseOperand(modeArgument);
    int32_t handle = 0;
    if (file) {
        auto record = std::make_unique<StreamRecord>();
        record->file = file;
        record->textMode = mode.find('b') == std::string::npos;
        handle = Streams().Add(std::move(record));
    }
    PushNumberResult(handle);
}

void Builtin_fclose() {
    StackEntry handle = TakeOperand();
    const std::unique_ptr<StreamRecord> stream = Streams().Remove(ArgumentInteger(handle));
    ReleaseOperand(handle);
}

void Builtin_feof() {
    StreamRecord* stream = PopStream();
    PushNumberResult(stream ? std::feof(stream->file) : 1);
}

void Builtin_ferror() {
    StreamRecord* stream = PopStream();
    PushNumberResult(stream ? std::ferror(stream->file) : 1);
}

void Builtin_fflush() {
    StreamRecord* stream = PopStream();
    PushNumberResult(stream ? std::fflush(stream->file) : EOF);
}

void Builtin_fgetpos() {
    StackEntry positionVariable = TakeOperand();
    StreamRecord* stream = PopStream();
    const off_t position = stream ? ftello(stream->file) : -1;
    const bool fits = position >= 0 && position <= INT32_MAX;
    if (fits) StoreOutputNumber(positionVariable, static_cast<double>(position));
    ReleaseOperand(positionVariable);
    PushNumberResult(fits ? 0 : -1);
}

void Builtin_fsetpos() {
    StackEntry positionArgument = TakeOperand();
    StreamRecord* stream = PopStream();
    const int32_t position = ArgumentInteger(positionArgument);
    ReleaseOperand(positionArgument);
    const bool done = stream && position >= 0 && fseeko(stream->file, position, SEEK_SET) == 0;
    PushNumberResult(done ? 0 : -1);
}

void Builtin_fread() {
    RunTransfer(false, [](void* buffer, size_t size, size_t items, std::FILE* file) {
        return std::fread(buffer, size, items, file);
    });
}

void Builtin_fwrite() {
    RunTransfer(true, [](void* buffer, size_t size, size_t items, std::FILE* file) {
        return std::fwrite(buffer, size, items, file);
    });
}

void Builtin_fseek() {
    StackEntry originArgument = TakeOperand();
    StackEntry offsetArgument = TakeOperand();
    StreamRecord* stream = PopStream();
    const int32_t origin = ArgumentInteger(originArgument);
    if (stream && origin >= 0 && origin <= 2) {
        constexpr int kOrigins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
        static_cast<void>(fseeko(stream->file, ArgumentInteger(offsetArgument), kOrigins[origin]));
    }
    ReleaseOperand(offsetArgument);
    ReleaseOperand(originArgument);
}

void Builtin_ftell() {
    StreamRecord* stream = PopStream();
    PushNumberResult(stream ? static_cast<double>(ftello(stream->file)) : -1.0);
}

void Builtin_writestring() {
    StackEntry textArgument = TakeOperand();
    StreamRecord* stream = PopStream();
    if (stream) std::fprintf(stream->file, "%s\n", StringArgument(textArgument).c_str());
    ReleaseOperand(textArgument);
}

// A whole line is read however long it is, so it is never cut short; a
// stream at or past its end gives 0.
void Builtin_readstring() {
    StreamRecord* stream = PopStream();
    const ssize_t read = stream ? getline(&stream->line, &stream->lineRoom, stream->file) : -1;
    if (read <= 0) {
        PushNumberResult(0.0);
        return;
    }
    size_t length = static_cast<size_t>(read);
    const char last = stream->line[length - 1];
    if (last == '\n' || last == '\r') --length;
    if (last == '\n' && stream->textMode && length > 0 && stream->line[length - 1] == '\r') --length;
    const int next = std::fgetc(stream->file);
    if (next != EOF) std::ungetc(next, stream->file);
    PushStringResult(std::string_view(stream->line, length));
}

}  // namespace qob
