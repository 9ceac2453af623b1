#include "pages/image_print_page.h"

namespace pellory::pages {

CDialogPPrint::CDialogPPrint(QWidget* parent) : QWidget(parent), PageLink({link::kOpenErrorText, false}) {}

CDialogPPrint::~CDialogPPrint() = default;

void CDialogPPrint::InitImagePage() {}

}  // namespace pellory::pages
