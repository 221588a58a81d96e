#pragma once

#include <array>
#include <string>

namespace quillfin::storage {

// The current value of every user setting. Initial values are those of a first run.
struct Settings {
    std::string Download_Path;
    int Rescan_Time = 90;
    int sldTimeout = 60;
    std::string News_Host;
    std::string News_Port;
    // Implicit TLS on every connection to the server (NNTPS, port 563).
    int chkSecure = 0;
    std::string User_Name;
    int chkSavePassword = 0;
    std::string User_Pass;
    int chkAuth = 0;
    int chkMakeSubDirs = 1;
    int chkSFX = 0;
    int chkSaveDecodes = 1;
    int chkSlave = 0;
    int sldXOVER = 100;
    int chkAllowRestart = 1;
    int chkAutodownload = 1;
    int chkAutoExpire = 1;
    int chkLogFile = 0;
    int chkEnableLogging = 0;
    // Download connections at once, and ARTICLE commands each keeps unanswered: 1 and 1 is
    // one article at a time on one connection.
    int Connections = 1;
    int RequestsInFlight = 1;
    // The first scan of a group reads at most its newest this many headers; 0 reads them all.
    int NewGroupHeaders = 250000;
    // The scan connection asks for compression (RFC 8054) when the server offers it.
    int chkCompress = 1;
    // XOVER requests the scan keeps unanswered; 1 asks for the next burst only once the last
    // has been read.
    int XoverInFlight = 1;
    // After a batch, par2 verifies each set whose files it filed and repairs what it can.
    int chkPar2Repair = 1;
    bool togtsComplete = true;
    bool togtsText = true;
    bool togtsUnknown = true;
    bool togtsIncomplete = true;
};

// The main window's placement, in the toolkit's units.
struct WindowPlacement {
    int WindowState = 0;  // 0 normal, 1 minimised, 2 maximised
    int Top = 0;
    int Left = 0;
    int Height = 0;
    int Width = 0;
};

struct ColumnWidths {
    static constexpr std::array<int, 6> kHeaderInitial{360, 35, 35, 70, 70, 90};
    static constexpr std::array<int, 3> kBatchInitial{360, 35, 35};
    std::array<int, 6> header = kHeaderInitial;  // Subject, Parts, MB, From, Date, Newsgroup
    std::array<int, 3> batch = kBatchInitial;    // Subject, Parts, MB
};

}  // namespace quillfin::storage
