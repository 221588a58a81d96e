#pragma once

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace quillfin::common {

// A growing array that never moves its elements: storage comes in fixed segments. A plain
// vector of a million postings regrows by copying them all into fresh memory at once, which
// holds the event loop for tens of milliseconds; here each growth is one segment. Segments
// stay small too: every list, even of one posting, reserves a whole one.
template <class T, std::size_t kSegmentBits = 9>
class SegmentedList {
    static constexpr std::size_t kSegment = std::size_t(1) << kSegmentBits;

  public:
    template <bool kConst>
    class Iterator {
        using List = std::conditional_t<kConst, const SegmentedList, SegmentedList>;

      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<kConst, const T*, T*>;
        using reference = std::conditional_t<kConst, const T&, T&>;

        Iterator() = default;
        Iterator(List* list, std::size_t at) : list_(list), at_(at) {}
        reference operator*() const { return (*list_)[at_]; }
        pointer operator->() const { return &(*list_)[at_]; }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++at_;
            return before;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

      private:
        List* list_ = nullptr;
        std::size_t at_ = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;
    using value_type = T;

    SegmentedList() = default;
    explicit SegmentedList(std::size_t count) : SegmentedList(count, T()) {}
    SegmentedList(std::size_t count, const T& value) {
        for (std::size_t i = 0; i < count; ++i) push_back(value);
    }
    SegmentedList(std::initializer_list<T> values) {
        for (const T& value : values) push_back(value);
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Segments are reserved whole as they are begun; there is nothing to reserve ahead.
    void reserve(std::size_t) {}

    T& operator[](std::size_t i) { return segments_[i >> kSegmentBits][i & (kSegment - 1)]; }
    const T& operator[](std::size_t i) const {
        return segments_[i >> kSegmentBits][i & (kSegment - 1)];
    }
    T& at(std::size_t i) { return i < size_ ? (*this)[i] : OutOfRange(); }
    const T& at(std::size_t i) const { return i < size_ ? (*this)[i] : OutOfRange(); }
    T& back() { return (*this)[size_ - 1]; }

    void push_back(T value) {
        if (segments_.empty() || segments_.back().size() == kSegment) {
            segments_.emplace_back();
            segments_.back().reserve(kSegment);
        }
        segments_.back().push_back(std::move(value));
        ++size_;
    }

    iterator begin() { return {this, 0}; }
    iterator end() { return {this, size_}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

  private:
    [[noreturn]] static T& OutOfRange() { throw std::out_of_range("SegmentedList::at"); }

    std::vector<std::vector<T>> segments_;
    std::size_t size_ = 0;
};

}  // namespace quillfin::common
