#include <gtest/gtest.h>

#include "General/ErrorBox.h"
#include "General/Notifier.h"

namespace zel {
namespace {

// Records whether each box was asked to be system-modal.
class ModalityNotifier final : public Notifier {
 public:
  int showMessage(std::string_view text, bool systemModal) override {
    texts.emplace_back(text);
    modal.push_back(systemModal);
    return 7;
  }
  void setCaption(std::string_view) override {}
  std::vector<std::string> texts;
  std::vector<bool> modal;
};

TEST(ErrorBoxTest, BoxesAreSystemModalAndReturnTheAnswer) {
  ModalityNotifier notifier;
  EXPECT_EQ(GneMessageBoxSystemModal(notifier, "テスト"), 7);
  EXPECT_EQ(GneShowCommonDialogError(notifier, 0x3002), 7);
  EXPECT_EQ(notifier.texts,
            (std::vector<std::string>{"テスト", "GNWN00003002 ファイル名が無効です。 "}));
  EXPECT_EQ(notifier.modal, (std::vector<bool>{true, true}));
}

// The code in eight hex digits, then its text (trailing blanks kept, as for
// 0x3002 above); every table code has a text, other codes read as undefined.
TEST(ErrorBoxTest, CodesOutsideTheTableReadAsUndefined) {
  for (std::uint32_t code :
       {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 0x3001u, 0x3003u, 0xFFFFu})
    EXPECT_NE(CommonDialogErrorText(code), "未定義のエラーです。") << code;
  for (auto [code, text] : {std::pair{0u, "GNWN00000000"},
                            {13u, "GNWN0000000D"},
                            {0x3004u, "GNWN00003004"},
                            {0xFFFFFFFFu, "GNWNFFFFFFFF"}})
    EXPECT_EQ(FormatCommonDialogError(code), std::string(text) + " 未定義のエラーです。");
}

}  // namespace
}  // namespace zel
