// What the window benchmarks share: dialogs that print every box (a run with
// one has failed), and the median of a run's figures.
#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialogs.h"

namespace tab::bench {

class PrintingDialogs : public gui::Dialogs {
public:
    int boxes = 0;
    QString saveAnswer;  // what every Save dialog chooses
    gui::BoxAnswer message(const gui::MessageBox& box) override {
        ++boxes;
        std::fprintf(stderr, "box: %s\n%s\n", qPrintable(box.title), qPrintable(box.text));
        return gui::BoxAnswer::No;
    }
    QString openFile(const gui::FileDialog&) override { return {}; }
    QString saveFile(const gui::FileDialog&) override { return saveAnswer; }
    QAction* popupMenu(QMenu&, const QPoint&) override { return nullptr; }
};

// VmRSS or VmHWM of this process in bytes.
inline double memoryOf(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::string(key).size())) * 1024;
    return 0;
}

// Lets the peak start again from the current memory.
inline void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace tab::bench
