// The "Text Print" tab page.
#pragma once

#include <QWidget>

#include "pages/core/page_link.h"

namespace pellory::pages {

class CDialogTprint : public QWidget, public PageLink {
public:
    explicit CDialogTprint(QWidget* parent = nullptr);
    ~CDialogTprint() override;

    // What the main window does for this page at start-up.
    void MakeSelfNotifyWindow();
    void SetReceiveHex(bool on);
    void SetTransmitText(const QString& text);
};

}  // namespace pellory::pages
