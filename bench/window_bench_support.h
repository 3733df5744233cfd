// What the window benchmarks share: dialogs that print every box (a run with
// one has failed), and the median of a run's figures.
#pragma once

#include <algorithm>
#include <cstdio>
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

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace tab::bench
