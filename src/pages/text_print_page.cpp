#include "pages/text_print_page.h"

namespace pellory::pages {

CDialogTprint::CDialogTprint(QWidget* parent) : QWidget(parent), PageLink({link::kOpenErrorText, true}) {}

CDialogTprint::~CDialogTprint() = default;

void CDialogTprint::MakeSelfNotifyWindow() {}

void CDialogTprint::SetReceiveHex(bool /*on*/) {}

void CDialogTprint::SetTransmitText(const QString& /*text*/) {}

}  // namespace pellory::pages
