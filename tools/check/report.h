// `fernwood-check --report`: what this PC offers and what the viewer built
// on it, written as a UTF-8 text file for a bug report.
#ifndef FERNWOOD_CHECK_REPORT_FILE_H
#define FERNWOOD_CHECK_REPORT_FILE_H

#include <string>

struct ReportRequest {
    std::wstring file;       // empty: fernwood-report-<time>.txt in the current folder
    int device = -1;         // -1: the one setting.ini in the current folder names
    int height = 1080;
    double record_seconds = 0;  // 0: preview only
    std::wstring folder;     // where the trial records; empty: the viewer's saved folder
    bool keep = false;
};

// 0: the trial ran (and recorded well when asked), 1: it recorded badly,
// 2: nothing could be checked (no capture device, the graph did not run, no file).
int WriteReport(const ReportRequest& request);

#endif
