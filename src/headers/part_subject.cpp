#include "headers/part_subject.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace quillfin::headers {

static_assert(sizeof(PartSubject) == 16);

struct PartSubject::Shared {
    std::atomic<std::uint32_t> refs;
    std::uint32_t size;
    char* Data() { return reinterpret_cast<char*>(this + 1); }

    static Shared* Make(std::string_view text) {
        if (text.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("subject");
        void* memory = ::operator new(sizeof(Shared) + text.size());
        auto* shared = new (memory) Shared{{1}, std::uint32_t(text.size())};
        std::memcpy(shared->Data(), text.data(), text.size());
        return shared;
    }
    static Shared* Acquire(Shared* shared) {
        if (shared != nullptr) shared->refs.fetch_add(1, std::memory_order_relaxed);
        return shared;
    }
    static void Release(Shared* shared) {
        if (shared != nullptr && shared->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            shared->~Shared();
            ::operator delete(shared);
        }
    }
};

PartSubject::PartSubject(std::string_view text) {
    if (!text.empty()) base_ = Shared::Make(text);
}

PartSubject::PartSubject(std::string_view text, const PartSubject& like) {
    const std::string_view base = like.Base();
    if (base.empty()) {
        *this = PartSubject(text);
        return;
    }
    if (text == base) {
        base_ = Shared::Acquire(like.base_);
        return;
    }
    const std::size_t most = std::min(text.size(), base.size());
    std::size_t head = 0;
    while (head < most && text[head] == base[head]) ++head;
    std::size_t tail = 0;
    while (tail < most - head && text[text.size() - 1 - tail] == base[base.size() - 1 - tail])
        ++tail;
    const std::size_t middle = text.size() - head - tail;
    constexpr std::size_t kMost = std::numeric_limits<std::uint16_t>::max();
    if (middle > kMiddle || head > kMost || tail > kMost) {
        *this = PartSubject(text);
        return;
    }
    base_ = Shared::Acquire(like.base_);
    head_ = std::uint16_t(head);
    tail_ = std::uint16_t(tail);
    middle_size_ = std::uint8_t(middle);
    std::memcpy(middle_, text.data() + head, middle);
}

PartSubject::PartSubject(const PartSubject& other)
    : base_(Shared::Acquire(other.base_)),
      head_(other.head_),
      tail_(other.tail_),
      middle_size_(other.middle_size_) {
    std::memcpy(middle_, other.middle_, kMiddle);
}

PartSubject::PartSubject(PartSubject&& other) noexcept : PartSubject() { *this = std::move(other); }

PartSubject& PartSubject::operator=(const PartSubject& other) {
    if (this != &other) *this = PartSubject(other);
    return *this;
}

PartSubject& PartSubject::operator=(PartSubject&& other) noexcept {
    if (this != &other) {
        Shared::Release(base_);
        base_ = other.base_;
        head_ = other.head_;
        tail_ = other.tail_;
        middle_size_ = other.middle_size_;
        std::memcpy(middle_, other.middle_, kMiddle);
        other.base_ = nullptr;
        other.middle_size_ = kWhole;
    }
    return *this;
}

PartSubject::~PartSubject() { Shared::Release(base_); }

std::string_view PartSubject::Base() const {
    return base_ == nullptr ? std::string_view{} : std::string_view(base_->Data(), base_->size);
}

std::size_t PartSubject::size() const {
    if (middle_size_ == kWhole) return base_ == nullptr ? 0 : base_->size;
    return std::size_t(head_) + middle_size_ + tail_;
}

void PartSubject::CopyTo(std::string& out) const {
    const std::string_view base = Base();
    if (middle_size_ == kWhole) {
        out.assign(base);
        return;
    }
    out.assign(base.substr(0, head_));
    out.append(middle_, middle_size_);
    out.append(base.substr(base.size() - tail_));
}

std::string PartSubject::str() const {
    std::string out;
    CopyTo(out);
    return out;
}

bool operator==(const PartSubject& a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const std::string_view base = a.Base();
    if (a.middle_size_ == PartSubject::kWhole) return base == b;
    // The differing bytes and the end first: that is where parts of one posting differ.
    return b.substr(a.head_, a.middle_size_) == std::string_view(a.middle_, a.middle_size_) &&
           b.substr(b.size() - a.tail_) == base.substr(base.size() - a.tail_) &&
           b.substr(0, a.head_) == base.substr(0, a.head_);
}

}  // namespace quillfin::headers
