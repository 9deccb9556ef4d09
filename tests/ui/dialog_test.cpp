#include "ui/application.h"
#include "ui/dialog.h"
#include "ui/message_filter.h"

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nv/fatal_error.h"

namespace {

constexpr UINT kTemplate = 200;
constexpr int kEdit = 100, kCheck = 101, kFirstRadio = 102, kSecondEdit = 105;

class exchange_dialog : public ui::dialog {
 public:
  exchange_dialog() : ui::dialog(kTemplate) {}

  std::wstring text = L"initial";
  std::wstring second = L"second";
  int checked = BST_CHECKED;
  int choice = 1;
  std::function<void(exchange_dialog&)> on_init;
  std::function<void(exchange_dialog&)> on_app_message;

 protected:
  BOOL OnInitDialog() override {
    ui::dialog::OnInitDialog();
    if (on_init) on_init(*this);
    return TRUE;
  }
  void DoDataExchange(ui::data_exchange& dx) override {
    dx.text(kEdit, text, 5);
    dx.check(kCheck, checked);
    dx.radio(kFirstRadio, choice);
    dx.text(kSecondEdit, second);
  }
  bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message != WM_APP || !on_app_message) return false;
    on_app_message(*this);
    result = 0;
    return true;
  }
};

// Records the message boxes instead of showing them.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = nv::set_message_box_display([this](const nv::message_box_request& request) {
      boxes.push_back(request);
      return IDOK;
    });
  }
  void TearDown() override { nv::set_message_box_display(saved_); }

  int checked_radio(const ui::dialog& d) const {
    for (int id = kFirstRadio; id < kFirstRadio + 3; ++id)
      if (::SendMessageW(d.item(id), BM_GETCHECK, 0, 0) == BST_CHECKED) return id - kFirstRadio;
    return -1;
  }

  std::vector<nv::message_box_request> boxes;
  nv::message_box_display saved_;
};

TEST_F(DialogTest, DataExchangeLoadsAndSavesEveryKindOfControl) {
  exchange_dialog d;
  ASSERT_TRUE(d.Create(nullptr));
  EXPECT_EQ(d.item_text(kEdit), L"initial") << "OnInitDialog loads the controls";
  EXPECT_EQ(::SendMessageW(d.item(kCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(checked_radio(d), 1);
  EXPECT_EQ(::SendMessageW(d.item(kEdit), EM_GETLIMITTEXT, 0, 0), 5) << "the limit is applied";

  d.set_item_text(kEdit, L"abc");
  d.set_item_text(kSecondEdit, L"free text of any length");
  ::SendMessageW(d.item(kCheck), BM_SETCHECK, BST_UNCHECKED, 0);
  ::SendMessageW(d.item(kFirstRadio + 1), BM_SETCHECK, BST_UNCHECKED, 0);
  ::SendMessageW(d.item(kFirstRadio + 2), BM_SETCHECK, BST_CHECKED, 0);
  ASSERT_TRUE(d.UpdateData(true));
  EXPECT_EQ(d.text, L"abc");
  EXPECT_EQ(d.second, L"free text of any length");
  EXPECT_EQ(d.checked, BST_UNCHECKED);
  EXPECT_EQ(d.choice, 2);
  EXPECT_TRUE(boxes.empty());

  d.choice = -1;
  ASSERT_TRUE(d.UpdateData(false));
  EXPECT_EQ(checked_radio(d), -1) << "-1 unchecks the whole group";
  ASSERT_TRUE(d.UpdateData(true));
  EXPECT_EQ(d.choice, -1);
}

TEST_F(DialogTest, TooLongTextFailsWithTheLimitInTheMessageAndStopsTheExchange) {
  exchange_dialog d;
  ASSERT_TRUE(d.Create(nullptr));
  // The control's own limit stops typing, not text set by program or pasted before the limit.
  ::SendMessageW(d.item(kEdit), EM_LIMITTEXT, 0, 0);
  d.set_item_text(kEdit, L"123456");
  d.set_item_text(kSecondEdit, L"changed");
  ::SendMessageW(d.item(kCheck), BM_SETCHECK, BST_UNCHECKED, 0);

  EXPECT_FALSE(d.UpdateData(true));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"Enter no more than 5 characters.");
  EXPECT_EQ(boxes[0].type & MB_ICONMASK, UINT{MB_ICONEXCLAMATION});
  EXPECT_EQ(d.text, L"initial") << "the member keeps its last valid value";
  EXPECT_EQ(d.checked, BST_CHECKED) << "nothing after the failed control is exchanged";
  EXPECT_EQ(d.second, L"second");
  EXPECT_EQ(::GetFocus(), d.item(kEdit));

  d.set_item_text(kEdit, L"12345");
  EXPECT_TRUE(d.UpdateData(true)) << "exactly the limit is accepted";
  EXPECT_EQ(d.text, L"12345");
  EXPECT_EQ(ui::max_length_message(260), L"Enter no more than 260 characters.");
}

TEST_F(DialogTest, ModalDialogIsTheActiveOneAndItsMessagesArePreTranslated) {
  exchange_dialog d;
  HWND seen_active = nullptr;
  HWND dialog_window = nullptr;
  bool consumed = false;
  int focus_after_tab = 0;
  d.on_init = [](exchange_dialog& self) { ::PostMessageW(self.hwnd(), WM_APP, 0, 0); };
  d.on_app_message = [&](exchange_dialog& self) {
    seen_active = ui::active_modal_dialog();
    dialog_window = self.hwnd();
    ::SetFocus(self.item(kEdit));
    MSG tab{self.item(kEdit), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    consumed = ui::pre_translate_message(tab);
    focus_after_tab = ::GetDlgCtrlID(::GetFocus());
    self.EndDialog(77);
  };
  EXPECT_EQ(d.DoModal(nullptr), 77);
  ASSERT_NE(dialog_window, nullptr);
  EXPECT_EQ(seen_active, dialog_window);
  EXPECT_TRUE(consumed) << "Tab is dialog navigation";
  EXPECT_EQ(focus_after_tab, kCheck) << "Tab moved to the next tab stop";
  EXPECT_EQ(ui::active_modal_dialog(), nullptr) << "the registration ends with the dialog";
}

TEST_F(DialogTest, ValidationInAModalDialogIsOwnedByItAndCaptionedWithTheApplicationName) {
  ui::application app;
  app.set_name(L"Exchange Test");
  exchange_dialog d;
  HWND dialog_window = nullptr;
  d.on_init = [&](exchange_dialog& self) {
    dialog_window = self.hwnd();
    ::SendMessageW(self.item(kEdit), EM_LIMITTEXT, 0, 0);
    self.set_item_text(kEdit, L"far too long");
    ::PostMessageW(self.hwnd(), WM_COMMAND, IDOK, 0);
    ::PostMessageW(self.hwnd(), WM_APP, 0, 0);
  };
  d.on_app_message = [](exchange_dialog& self) { self.EndDialog(IDCANCEL); };
  EXPECT_EQ(d.DoModal(nullptr), IDCANCEL) << "a failed validation keeps the dialog open";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"Exchange Test");
  EXPECT_EQ(boxes[0].owner, dialog_window);
}

TEST_F(DialogTest, ExceptionInAHandlerEndsTheModalDialogAndLeavesDoModal) {
  exchange_dialog d;
  d.on_init = [](exchange_dialog&) { throw std::runtime_error("init failed"); };
  EXPECT_THROW(d.DoModal(nullptr), std::runtime_error);
  EXPECT_EQ(ui::active_modal_dialog(), nullptr);
  EXPECT_FALSE(ui::take_pending_exception());

  // A modeless dialog outside any modal loop keeps the exception for its owner to take.
  exchange_dialog child;
  child.on_app_message = [](exchange_dialog&) { throw std::logic_error("handler"); };
  ASSERT_TRUE(child.Create(nullptr));
  ::SendMessageW(child.hwnd(), WM_APP, 0, 0);
  EXPECT_TRUE(ui::take_pending_exception());
}

TEST(Application, RunsInitInstanceAndNamesMessageBoxes) {
  struct counting_app : ui::application {
    int calls = 0;
    BOOL result = FALSE;
    BOOL InitInstance() override {
      ++calls;
      return result;
    }
  };
  EXPECT_EQ(ui::run_application(), 2) << "no application object";
  {
    counting_app app;
    EXPECT_EQ(ui::application::instance(), &app);
    EXPECT_EQ(ui::run_application(), 0);
    app.result = TRUE;
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(app.calls, 2);
    app.set_name(L"Named");
    ASSERT_TRUE(nv::ui_providers().application_name);
    EXPECT_EQ(nv::ui_providers().application_name(), L"Named");
  }
  EXPECT_EQ(ui::application::instance(), nullptr);
}

}  // namespace
