// The paper of the receipt renderer on screen: draws only the rows in view, at 1:1 or fitted to
// the width it is given, ink in the grey of its print density. Put it in a scroll area.
#pragma once

#include <QWidget>

#include "receipt/paper.h"

namespace pellory::widgets {

class PaperView : public QWidget {
public:
    explicit PaperView(QWidget* parent = nullptr);

    // The paper shown (not owned; null for none). Call paperChanged() after it changed.
    void setPaper(const receipt::Paper* paper);
    void paperChanged();
    // Fitted: scaled to fitWidth pixels across; else one pixel per dot.
    void setFitted(bool fitted, int fitWidth);
    bool fitted() const { return fitted_; }
    double scale() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateSize();

    const receipt::Paper* paper_ = nullptr;
    bool fitted_ = false;
    int fitWidth_ = 0;
};

}  // namespace pellory::widgets
