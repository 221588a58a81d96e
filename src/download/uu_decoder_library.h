#pragma once

#include <list>
#include <string>
#include <vector>

#include "common/event_pump.h"
#include "download/decoder_library.h"

namespace quillfin::download {

// DecoderLibrary over the system's libuu. The library keeps its list of parts in global
// state and is not re-entrant, so one run at a time holds it for the whole process: a second
// StartRun, from any instance, is refused until the first run ends.
class UuDecoderLibrary : public DecoderLibrary {
  public:
    // pump, when given, lets events run while the library works on a long file.
    explicit UuDecoderLibrary(common::EventPump* pump = nullptr) : pump_(pump) {}
    ~UuDecoderLibrary() override;
    UuDecoderLibrary(const UuDecoderLibrary&) = delete;
    UuDecoderLibrary& operator=(const UuDecoderLibrary&) = delete;

    bool StartRun() override;
    int LoadFile(const std::string& path) override;
    void DecodeIncomplete(bool on) override;
    int FirstItem() override;
    std::string ItemFileName(int item) override;
    std::string FilterFileName(const std::string& name) override;
    DecodeResult Decode(int item, const std::string& path) override;
    bool Message(std::string& text, int& severity) override;
    void EndRun() override;

    bool Running() const { return running_; }

  private:
    static void OnMessage(void* self, char* text, int severity);
    // Puts the decoded temporary file at path, which must not exist yet; 0 or an errno value.
    int MoveIntoPlace(const std::string& temp, const std::string& path);

    common::EventPump* pump_;
    bool running_ = false;
    bool has_message_ = false;
    std::string message_;
    std::list<std::vector<char>> loaded_names_;
    int severity_ = 0;
};

}  // namespace quillfin::download
