#include "nntp/compressed_socket.h"

#include <zlib.h>

#include <utility>

namespace quillfin::nntp {

namespace {

// A capability list longer than this is no list: compression is given up.
constexpr std::size_t kMaxNegotiation = 64 * 1024;

bool OffersDeflate(const std::string& list) {
    // Lines of the "101" list; "COMPRESS DEFLATE" (words in any case, maybe among others).
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find('\n', at);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(at, end - at);
        at = end + 1;
        for (char& c : line)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (!line.starts_with("COMPRESS ")) continue;
        const std::size_t found = line.find(" DEFLATE");
        if (found != std::string::npos) {
            const std::size_t after = found + 8;
            if (after == line.size() || line[after] == ' ' || line[after] == '\r') return true;
        }
    }
    return false;
}

}  // namespace

struct CompressedSocket::Streams {
    z_stream in{};
    z_stream out{};
    bool ready = false;
    Streams() {
        ready = inflateInit2(&in, -15) == Z_OK;
        if (deflateInit2(&out, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            if (ready) inflateEnd(&in);
            ready = false;
        }
    }
    ~Streams() {
        if (!ready) return;
        inflateEnd(&in);
        deflateEnd(&out);
    }
    Streams(const Streams&) = delete;
    Streams& operator=(const Streams&) = delete;

    // false when the data is not a deflate stream.
    bool Inflate(const std::string& data, std::string& plain) {
        in.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        in.avail_in = uInt(data.size());
        char buffer[1 << 16];
        do {
            in.next_out = reinterpret_cast<Bytef*>(buffer);
            in.avail_out = sizeof buffer;
            const int result = inflate(&in, Z_SYNC_FLUSH);
            if (result != Z_OK && result != Z_BUF_ERROR) return false;
            plain.append(buffer, sizeof buffer - in.avail_out);
            if (result == Z_BUF_ERROR) break;
        } while (in.avail_in > 0 || in.avail_out == 0);
        return true;
    }
    std::string Deflate(const std::string& data) {
        std::string packed;
        out.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        out.avail_in = uInt(data.size());
        char buffer[4096];
        do {
            out.next_out = reinterpret_cast<Bytef*>(buffer);
            out.avail_out = sizeof buffer;
            deflate(&out, Z_SYNC_FLUSH);
            packed.append(buffer, sizeof buffer - out.avail_out);
        } while (out.avail_out == 0);
        return packed;
    }
};

CompressedSocket::CompressedSocket(Socket& inner) : inner_(inner) {
    inner_.onDataArrival = [this](const std::string& chunk) { Arrived(chunk); };
    inner_.onClose = [this] {
        if (step_ != Step::Off && step_ != Step::On) GiveUp();
        if (onClose) onClose();
    };
    inner_.onError = [this](int number, const std::string& description) {
        if (onError) onError(number, description);
    };
}

CompressedSocket::~CompressedSocket() {
    inner_.onDataArrival = nullptr;
    inner_.onClose = nullptr;
    inner_.onError = nullptr;
}

bool CompressedSocket::Compressing() const { return step_ == Step::On; }

void CompressedSocket::Connect() {
    streams_.reset();
    held_.clear();
    reply_.clear();
    step_ = enabled && enabled() ? Step::Greeting : Step::Off;
    inner_.Connect();
}

void CompressedSocket::Close() {
    step_ = Step::Off;
    streams_.reset();
    inner_.Close();
}

void CompressedSocket::Send(const std::string& data) {
    if (step_ == Step::On) {
        inner_.Send(streams_->Deflate(data));
        return;
    }
    // Nothing is sent above before the greeting, but a stop may send QUIT meanwhile: then the
    // connection stays plain, as the server has not been asked yet or will be ignored.
    if (step_ != Step::Off) GiveUp();
    inner_.Send(data);
}

void CompressedSocket::Arrived(const std::string& chunk) {
    wire_in_ += chunk.size();
    if (step_ == Step::Off) {
        Deliver(chunk);
        return;
    }
    if (step_ == Step::On) {
        std::string plain;
        if (!streams_->Inflate(chunk, plain)) {
            step_ = Step::Off;
            if (onError) onError(10053, "Compressed data from the server is damaged");
            return;
        }
        if (!plain.empty()) Deliver(plain);
        return;
    }
    Negotiate(chunk);
}

void CompressedSocket::Negotiate(const std::string& chunk) {
    reply_ += chunk;
    if (reply_.size() > kMaxNegotiation) {
        GiveUp();
        return;
    }
    const std::size_t newline = reply_.find('\n');
    if (newline == std::string::npos) return;
    const std::string code = reply_.substr(0, 3);
    switch (step_) {
        case Step::Greeting:
            if (code != "200" && code != "201") {
                step_ = Step::Off;
                Deliver(std::exchange(reply_, {}));
                return;
            }
            held_ = reply_.substr(0, newline + 1);
            reply_.erase(0, newline + 1);
            step_ = Step::Capabilities;
            inner_.Send("CAPABILITIES\r\n");
            return;
        case Step::Capabilities:
            if (code != "101") {
                GiveUp();
                return;
            }
            if (reply_.find("\n.\r\n") == std::string::npos) return;
            if (!OffersDeflate(reply_)) {
                GiveUp();
                return;
            }
            reply_.clear();
            step_ = Step::Compress;
            inner_.Send("COMPRESS DEFLATE\r\n");
            return;
        case Step::Compress: {
            if (code != "206") {
                GiveUp();
                return;
            }
            streams_ = std::make_unique<Streams>();
            if (!streams_->ready) {
                // The server now expects compressed data: nothing sane is left on this one.
                step_ = Step::Off;
                if (onError) onError(10053, "Compression could not be set up");
                return;
            }
            std::string rest = reply_.substr(newline + 1);
            reply_.clear();
            step_ = Step::On;
            if (log) log("Compression on (COMPRESS DEFLATE)");
            Deliver(std::exchange(held_, {}));
            if (!rest.empty() && step_ == Step::On) {
                wire_in_ -= rest.size();  // counted when it came
                Arrived(rest);
            }
            return;
        }
        default:
            return;
    }
}

void CompressedSocket::GiveUp() {
    step_ = Step::Off;
    reply_.clear();
    if (!held_.empty()) Deliver(std::exchange(held_, {}));
}

void CompressedSocket::Deliver(const std::string& text) {
    plain_in_ += text.size();
    if (onDataArrival) onDataArrival(text);
}

}  // namespace quillfin::nntp
