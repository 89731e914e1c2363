#include "texts/texts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

using namespace texts;

// Every catalogue text: a character CP932 lacks would reach a message box,
// the log or the stored account as '?'.
constexpr std::string_view kAll[] = {kProgramName,
                                     kUnknownError,
                                     connection::kCertificateFailed,
                                     connection::kStartTlsFailed,
                                     connection::kTlsFailed,
                                     connection::kTooLargeBefore,
                                     connection::kTooLargeAfter,
                                     pop3::kConnectFailed,
                                     pop3::kAuthFailed,
                                     pop3::kApopFailed,
                                     pop3::kListFailed,
                                     pop3::kSettingsIncomplete,
                                     oauth::kTlsOnly,
                                     oauth::kNoClientId,
                                     oauth::kClientIdFile,
                                     oauth::kNoMechanism,
                                     oauth::kNoToken,
                                     oauth::kRefused,
                                     oauth::kSignInAgain,
                                     settings::kOAuth2,
                                     settings::kOAuthProvider,
                                     smtp::kAuthFailed,
                                     smtp::kPopBeforeSmtpFailed,
                                     smtp::kNoSafeAuth,
                                     smtp::kRecipientRefusedBefore,
                                     smtp::kRecipientRefusedAfter,
                                     accounts::kNewAccountName,
                                     message_view::kAttachmentMark,
                                     message_view::kNoName,
                                     mail_list::kNumber,
                                     mail_list::kSize,
                                     mail_list::kDate,
                                     mail_list::kSubject,
                                     mail_list::kFrom,
                                     mail_list::kState,
                                     mail_list::kNewMark,
                                     mail_list::kJunkMark,
                                     mail_list::kFriendMark,
                                     mail_list::kMarkSeparator,
                                     main_window::kSweep,
                                     main_window::kSweepName,
                                     main_window::kSortByState,
                                     main_window::kSweepConfirm,
                                     main_window::kMarkCounts,
                                     settings::kMarkNew,
                                     settings::kApplyRules,
                                     main_window::kFirstRunCaption,
                                     main_window::kFirstRunPrompt,
                                     main_window::kConnect,
                                     main_window::kDisconnect,
                                     main_window::kRead,
                                     main_window::kDelete,
                                     main_window::kWrite,
                                     main_window::kAccountsName,
                                     main_window::kConnectName,
                                     main_window::kDisconnectName,
                                     main_window::kReadName,
                                     main_window::kDeleteName,
                                     main_window::kWriteName,
                                     main_window::kMailListName,
                                     main_window::kBodyName,
                                     main_window::kLogName,
                                     main_window::kAccountSettings,
                                     main_window::kAddAccount,
                                     main_window::kDeleteAccount,
                                     main_window::kSortByNumber,
                                     main_window::kSortBySize,
                                     main_window::kSortByDate,
                                     main_window::kSortBySubject,
                                     main_window::kSortByFrom,
                                     main_window::kSaveMessageAs,
                                     main_window::kClearLog,
                                     main_window::kSaveLog,
                                     main_window::kSaveAttachmentItem,
                                     main_window::kLogTrimmed,
                                     main_window::kDeleteAccountCaption,
                                     main_window::kDeleteAccountConfirm,
                                     main_window::kSaveLogTitle,
                                     main_window::kLogNotSaved,
                                     main_window::kSaveMessageTitle,
                                     main_window::kMessageNotSaved,
                                     main_window::kSaveAttachmentTitle,
                                     main_window::kAttachmentNotSaved,
                                     main_window::kCannotQuitConnected,
                                     main_window::kSettingsNotSaved,
                                     settings::kTitle,
                                     settings::kOk,
                                     settings::kCancel,
                                     settings::kGeneralPage,
                                     settings::kPopPage,
                                     settings::kSmtpPage,
                                     settings::kMailAddressSetup,
                                     settings::kMailAddress,
                                     settings::kPopGroup,
                                     settings::kSmtpGroup,
                                     settings::kNone,
                                     settings::kSslTls,
                                     settings::kStartTls,
                                     settings::kSavePassword,
                                     settings::kReadHeader,
                                     settings::kPopServer,
                                     settings::kPopServerExample,
                                     settings::kEncryption,
                                     settings::kUserName,
                                     settings::kUserNameExample,
                                     settings::kPassword,
                                     settings::kPasswordExample,
                                     settings::kOptions,
                                     settings::kSameAsPop,
                                     settings::kSmtpServer,
                                     settings::kSmtpServerExample,
                                     settings::kAutomatic,
                                     settings::kLoginMethod,
                                     settings::kUserPass,
                                     settings::kApop,
                                     settings::kAutoDetect,
                                     settings::kPort,
                                     settings::kUseTop,
                                     settings::kHeaderWithBody,
                                     settings::kUseCache,
                                     settings::kDecodeMime,
                                     settings::kPipelining,
                                     settings::kLocalDates,
                                     settings::kPopBeforeSmtp,
                                     settings::kSmtpAuth,
                                     settings::kAccountName,
                                     settings::kAccountNameExample,
                                     settings::kNoProvider,
                                     settings::kAccountNameField,
                                     settings::kPopServerField,
                                     settings::kPopUserField,
                                     settings::kPasswordField,
                                     settings::kSmtpServerField,
                                     settings::kSmtpUserField,
                                     settings::kPopPortField,
                                     settings::kSmtpPortField,
                                     settings::kNoComma,
                                     settings::kBadCharacter,
                                     settings::kNotInteger,
                                     settings::kPortRange,
                                     settings::kUserPresetsUnreadable,
                                     compose::kTitle,
                                     compose::kSend,
                                     compose::kCancel,
                                     compose::kClose,
                                     compose::kSmtpServer,
                                     compose::kUserId,
                                     compose::kTo,
                                     compose::kFrom,
                                     compose::kSubject,
                                     compose::kBody,
                                     compose::kRoute,
                                     compose::kSslTls,
                                     compose::kStartTls,
                                     compose::kNoEncryption,
                                     compose::kSmtpAuth,
                                     compose::kOAuth2,
                                     compose::kPopBeforeSmtp,
                                     compose::kNoLogin,
                                     compose::kEmptyFields,
                                     compose::kSmtpServerField,
                                     compose::kUserIdField,
                                     compose::kFromField,
                                     compose::kSubjectField,
                                     compose::kLineBreak,
                                     compose::kNulInTo,
                                     compose::kSent,
                                     compose::kAbortedMayHaveArrived,
                                     compose::kAborted,
                                     signin::kWaitTitle,
                                     signin::kWaitPrompt,
                                     signin::kCancel,
                                     signin::kSignInAgain,
                                     signin::kCancelled,
                                     signin::kTimedOut,
                                     signin::kStateMismatch,
                                     signin::kBadRedirect,
                                     signin::kDenied,
                                     signin::kTokenFailed,
                                     signin::kInsecureEndpoint,
                                     signin::kIncomplete,
                                     signin::kListenFailed,
                                     signin::kBrowserFailed,
                                     signin::kPageDone,
                                     signin::kPageFailed,
                                     password::kTitle,
                                     password::kPrompt,
                                     password::kOk,
                                     password::kBadCharacter};

TEST(Texts, EveryTextSurvivesCp932) {
    for (const std::string_view text : kAll) {
        EXPECT_EQ(Cp932ToUtf8(Cp932(text)), text);
    }
}

// A text added to the catalogue but not to kAll would go unchecked.
TEST(Texts, TheTableHoldsTheWholeCatalogue) {
    std::ifstream file(BOXSWEEPER_SOURCE_DIR "/texts/texts.h");
    ASSERT_TRUE(file);
    const std::string source((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string_view declaration = "inline constexpr std::string_view k";
    std::size_t count = 0;
    for (std::size_t at = source.find(declaration); at != std::string::npos; at = source.find(declaration, at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, std::size(kAll));
}

// The forms already on disk and in users' logs stay byte for byte.
TEST(Texts, KnownShiftJisForms) {
    const struct {
        std::string_view text;
        std::string_view cp932;
    } cases[] = {
        {accounts::kNewAccountName, "\x90\x56\x82\xb5\x82\xa2\x83\x41\x83\x4a\x83\x45\x83\x93\x83\x67"},
        {pop3::kConnectFailed, "\x90\xda\x91\xb1\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd"},
        {connection::kTooLargeBefore,
         "\x83\x54\x81\x5b\x83\x6f\x81\x5b\x82\xcc\x89\x9e\x93\x9a\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xdc"
         "\x82\xb7\x81\x69"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp932(c.text), c.cp932) << c.text;
    }
}

}  // namespace
