#include "nntp/reply_accumulator.h"

namespace quillfin::nntp {

bool ReplyAccumulator::Append(std::string_view chunk) {
    if (text_.size() != known_size_) searched_ = 0;  // changed behind our back
    if (chunk.size() > cap_ || text_.size() > cap_ - chunk.size()) return false;
    text_.append(chunk);
    known_size_ = text_.size();
    return true;
}

bool ReplyAccumulator::HasEndLine() {
    if (text_.size() != known_size_) searched_ = 0;
    const std::size_t overlap = kEndLine.size() - 1;
    const std::size_t from = searched_ > overlap ? searched_ - overlap : 0;
    const bool found = text_.find(kEndLine, from) != std::string::npos;
    searched_ = text_.size();
    known_size_ = text_.size();
    return found;
}

void ReplyAccumulator::Clear() {
    text_.clear();
    searched_ = 0;
    known_size_ = 0;
}

}  // namespace quillfin::nntp
