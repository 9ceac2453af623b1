#include "pages/quick_test_page.h"

namespace pellory::pages {

CDialogQuickTest::CDialogQuickTest(QWidget* parent) : QWidget(parent), PageLink({link::kOpenErrorTextTestPage, false}) {}

CDialogQuickTest::~CDialogQuickTest() = default;

void CDialogQuickTest::InitTestPage() {}

}  // namespace pellory::pages
