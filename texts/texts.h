#pragma once

#include "platform/cp932.h"

#include <string>
#include <string_view>

// Every text the user sees, written once in UTF-8 and grouped by where it
// appears. The window shows them as they are; message boxes raised below the
// window, the log file and stored accounts carry Shift_JIS, and take them
// through Cp932() below. "%1", "%2" are filled in by the window; a text with
// a part of the caller's between is split into Before and After.
namespace texts {

// The one conversion of a catalogue text to the Shift_JIS (CP932) form.
inline std::string Cp932(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

// Caption of every message box and of the main window.
inline constexpr std::string_view kProgramName = "Boxsweeper";
inline constexpr std::string_view kUnknownError = "Unknown error.";

// Failures of a connection, POP3 or SMTP alike.
namespace connection {
inline constexpr std::string_view kCertificateFailed = "サーバーの証明書を確認できませんでした";
inline constexpr std::string_view kStartTlsFailed = "STARTTLSを利用できませんでした";
inline constexpr std::string_view kTlsFailed = "暗号化通信を開始できませんでした";
// Around the count of bytes received.
inline constexpr std::string_view kTooLargeBefore = "サーバーの応答が大きすぎます（";
inline constexpr std::string_view kTooLargeAfter = " バイト）";
}  // namespace connection

// The POP3 session's message boxes.
namespace pop3 {
inline constexpr std::string_view kConnectFailed = "接続に失敗しました";
inline constexpr std::string_view kAuthFailed = "認証に失敗しました";
inline constexpr std::string_view kApopFailed = "APOP 認証に失敗しました";
// Followed by a line break and the server's reply line.
inline constexpr std::string_view kListFailed = "メール一覧を取得できませんでした";
inline constexpr std::string_view kSettingsIncomplete =
    "サーバー名、ユーザー名、パスワードのすべてを正しく設定してください";
}  // namespace pop3

// The sending side's failures.
namespace smtp {
inline constexpr std::string_view kAuthFailed = "SMTP認証に失敗しました";
inline constexpr std::string_view kPopBeforeSmtpFailed = "POP before SMTPのログインに失敗しました";
inline constexpr std::string_view kNoSafeAuth =
    "暗号化なしで安全に使える認証方式（CRAM-MD5）にサーバーが対応していません。"
    "SMTPの暗号化を設定してください";
// Around the refused address.
inline constexpr std::string_view kRecipientRefusedBefore = "サーバーがあて先 <";
inline constexpr std::string_view kRecipientRefusedAfter = "> を受け付けませんでした";
}  // namespace smtp

namespace accounts {
// Followed by the tab count in decimal.
inline constexpr std::string_view kNewAccountName = "新しいアカウント";
}  // namespace accounts

// The message pane's attachment lines.
namespace message_view {
inline constexpr std::string_view kAttachmentMark = "[添付]";
inline constexpr std::string_view kNoName = "（名前なし）";
}  // namespace message_view

// The mail list's column headings, number to sender.
namespace mail_list {
inline constexpr std::string_view kNumber = "番号";
inline constexpr std::string_view kSize = "サイズ";
inline constexpr std::string_view kDate = "日付";
inline constexpr std::string_view kSubject = "題名";
inline constexpr std::string_view kFrom = "差出人";
}  // namespace mail_list

namespace main_window {
inline constexpr std::string_view kFirstRunCaption = "Boxsweeper初期設定";
inline constexpr std::string_view kFirstRunPrompt = "初期設定を作成してください";
// Buttons.
inline constexpr std::string_view kConnect = "接続(&C)";
inline constexpr std::string_view kDisconnect = "切断(&D)";
inline constexpr std::string_view kRead = "読む(Enter/&R)";
inline constexpr std::string_view kDelete = "削除(Del/&E)";
inline constexpr std::string_view kWrite = "書く(&W)...";
// Names for screen readers.
inline constexpr std::string_view kAccountsName = "アカウント";
inline constexpr std::string_view kConnectName = "接続";
inline constexpr std::string_view kDisconnectName = "切断";
inline constexpr std::string_view kReadName = "読む";
inline constexpr std::string_view kDeleteName = "削除";
inline constexpr std::string_view kWriteName = "書く";
inline constexpr std::string_view kMailListName = "メール一覧";
inline constexpr std::string_view kBodyName = "本文";
inline constexpr std::string_view kLogName = "ログ";
// Menus.
inline constexpr std::string_view kAccountSettings = "設定(&S)...";
inline constexpr std::string_view kAddAccount = "アカウントの追加(&A)";
inline constexpr std::string_view kDeleteAccount = "アカウントの削除(&D)";
inline constexpr std::string_view kSortByNumber = "番号で整列";
inline constexpr std::string_view kSortBySize = "サイズで整列";
inline constexpr std::string_view kSortByDate = "日付で整列";
inline constexpr std::string_view kSortBySubject = "題名で整列";
inline constexpr std::string_view kSortByFrom = "差出人で整列";
inline constexpr std::string_view kSaveMessageAs = "名前を付けて保存(&A)...";
inline constexpr std::string_view kClearLog = "ログをクリア(&C)";
inline constexpr std::string_view kSaveLog = "ログを保存(&S)...";
inline constexpr std::string_view kSaveAttachmentItem = "添付ファイルを保存...";
// The log pane's first line once older entries were dropped from it.
inline constexpr std::string_view kLogTrimmed = "（古いログを表示から省きました）";
// Dialogs and message boxes.
inline constexpr std::string_view kDeleteAccountCaption = "アカウントの削除";
inline constexpr std::string_view kDeleteAccountConfirm = "本当に削除してよろしいですか？";
inline constexpr std::string_view kSaveLogTitle = "ログの保存先の指定";
inline constexpr std::string_view kLogNotSaved = "ログを保存できませんでした";
inline constexpr std::string_view kSaveMessageTitle = "名前を付けて保存";
inline constexpr std::string_view kMessageNotSaved = "メールを保存できませんでした";
inline constexpr std::string_view kSaveAttachmentTitle = "添付ファイルを保存";
inline constexpr std::string_view kAttachmentNotSaved = "添付ファイルを保存できませんでした";
inline constexpr std::string_view kCannotQuitConnected = "接続中は終了できません。";
inline constexpr std::string_view kSettingsNotSaved = "設定を保存できませんでした";
}  // namespace main_window

// The account settings dialog.
namespace settings {
inline constexpr std::string_view kTitle = "アカウントの設定";
inline constexpr std::string_view kOk = "決定(&O)";
inline constexpr std::string_view kCancel = "中止(&C)";
inline constexpr std::string_view kGeneralPage = "一般的な設定";
inline constexpr std::string_view kPopPage = "POP3の高度な設定";
inline constexpr std::string_view kSmtpPage = "SMTPの高度な設定";
inline constexpr std::string_view kMailAddressSetup = "メールアドレスから設定";
inline constexpr std::string_view kMailAddress = "メールアドレス：";
inline constexpr std::string_view kPopGroup = "POP3（受信）の設定";
inline constexpr std::string_view kSmtpGroup = "SMTP（送信）の設定";
inline constexpr std::string_view kNone = "なし";
inline constexpr std::string_view kSslTls = "SSL/TLS";
inline constexpr std::string_view kStartTls = "STARTTLS";
inline constexpr std::string_view kSavePassword = "保存する";
// Beside kSavePassword: where a saved password goes.
inline constexpr std::string_view kPasswordInKeyring = "パスワードはシステムのキーリングに保存されます";
inline constexpr std::string_view kPasswordInFile = "パスワードはこのユーザーだけが読めるファイルに保存されます";
inline constexpr std::string_view kReadHeader = "リストと同時にヘッダも読み込む";
inline constexpr std::string_view kPopServer = "POP3サーバー名：";
inline constexpr std::string_view kPopServerExample = "例：pop.example.ne.jp";
inline constexpr std::string_view kEncryption = "暗号化：";
inline constexpr std::string_view kUserName = "ユーザー名：";
inline constexpr std::string_view kUserNameExample = "例：taro";
inline constexpr std::string_view kPassword = "パスワード：";
inline constexpr std::string_view kPasswordExample = "例：********(笑)";
inline constexpr std::string_view kOptions = "オプション：";
inline constexpr std::string_view kSameAsPop = "POPと同じ";
inline constexpr std::string_view kSmtpServer = "SMTPサーバー名：";
inline constexpr std::string_view kSmtpServerExample = "例：smtp.example.ne.jp";
inline constexpr std::string_view kAutomatic = "自動（わからない場合は自動にしておいて下さい）";
inline constexpr std::string_view kLoginMethod = "認証方式：";
inline constexpr std::string_view kUserPass = "USER/PASS";
inline constexpr std::string_view kApop = "APOP";
inline constexpr std::string_view kAutoDetect = "自動検出";
inline constexpr std::string_view kPort = "ポート番号：";
inline constexpr std::string_view kUseTop = "TOPコマンドの使用";
inline constexpr std::string_view kHeaderWithBody = "「読む」ときにヘッダも表示";
inline constexpr std::string_view kUseCache = "メールのキャッシュ";
inline constexpr std::string_view kDecodeMime = "MIMEメールもデコードする（UTF-8・添付など）";
inline constexpr std::string_view kPipelining = "コマンドをまとめて送る（高速）";
inline constexpr std::string_view kLocalDates = "日付を現地時刻で表示して日時順に並べる";
inline constexpr std::string_view kPopBeforeSmtp = "POP before SMTP";
inline constexpr std::string_view kSmtpAuth = "SMTP認証";
inline constexpr std::string_view kAccountName = "アカウント設定名：";
inline constexpr std::string_view kAccountNameExample = "例：会社のメール";
inline constexpr std::string_view kNoProvider = "このメールアドレスのプロバイダーは登録されていません";
// Field names, put into the refusals below.
inline constexpr std::string_view kAccountNameField = "アカウント設定名";
inline constexpr std::string_view kPopServerField = "POP3サーバー名";
inline constexpr std::string_view kPopUserField = "POP3のユーザー名";
inline constexpr std::string_view kPasswordField = "パスワード";
inline constexpr std::string_view kSmtpServerField = "SMTPサーバー名";
inline constexpr std::string_view kSmtpUserField = "SMTPのユーザー名";
inline constexpr std::string_view kPopPortField = "POP3のポート番号";
inline constexpr std::string_view kSmtpPortField = "SMTPのポート番号";
inline constexpr std::string_view kNoComma = "「%1」にカンマ（,）は使えません";
inline constexpr std::string_view kBadCharacter = "「%1」に使えない文字が含まれています";
inline constexpr std::string_view kNotInteger = "'%1' は整数ではありません";
inline constexpr std::string_view kPortRange = "「%1」は1から65535までの数で入力してください";
// The presets file in the user's folder could not be read: its path, then why.
inline constexpr std::string_view kUserPresetsUnreadable =
    "プロバイダー設定ファイルを読み込めませんでした。"
    "このファイルは使わずに続けます。\n%1\n%2";
}  // namespace settings

// The compose window.
namespace compose {
inline constexpr std::string_view kTitle = "メールを書く";
inline constexpr std::string_view kSend = "送信(&S)";
inline constexpr std::string_view kCancel = "キャンセル";
inline constexpr std::string_view kClose = "閉じる";
inline constexpr std::string_view kSmtpServer = "SMTPサーバー：";
inline constexpr std::string_view kUserId = "ユーザーID：";
inline constexpr std::string_view kTo = "あて先アドレス：";
inline constexpr std::string_view kFrom = "送信者アドレス：";
inline constexpr std::string_view kSubject = "題名：";
inline constexpr std::string_view kBody = "内容：";
// The route line: server, port, encryption, login.
inline constexpr std::string_view kRoute = "%1 ポート%2、%3、%4";
inline constexpr std::string_view kSslTls = "SSL/TLS";
inline constexpr std::string_view kStartTls = "STARTTLS";
inline constexpr std::string_view kNoEncryption = "暗号化なし";
inline constexpr std::string_view kSmtpAuth = "SMTP認証";
inline constexpr std::string_view kPopBeforeSmtp = "POP before SMTP";
inline constexpr std::string_view kNoLogin = "認証なし";
inline constexpr std::string_view kEmptyFields = "全ての欄が埋まっていません";
// Field names, put into kLineBreak.
inline constexpr std::string_view kSmtpServerField = "SMTPサーバー";
inline constexpr std::string_view kUserIdField = "ユーザーID";
inline constexpr std::string_view kFromField = "送信者アドレス";
inline constexpr std::string_view kSubjectField = "題名";
inline constexpr std::string_view kLineBreak = "「%1」に改行文字やNUL文字は使えません";
inline constexpr std::string_view kNulInTo = "「あて先アドレス」にNUL文字は使えません";
inline constexpr std::string_view kSent = "メールを送信しました";
inline constexpr std::string_view kAbortedMayHaveArrived =
    "送信を中止しましたが、メールはサーバーに届いている可能性があります";
inline constexpr std::string_view kAborted = "送信を中止しました";
}  // namespace compose

// The password prompt.
namespace password {
inline constexpr std::string_view kTitle = "パスワードの入力";
inline constexpr std::string_view kPrompt = "パスワードを入力してください";
inline constexpr std::string_view kOk = "決定(&Enter)";
inline constexpr std::string_view kBadCharacter = "パスワードに使えない文字が含まれています";
}  // namespace password

}  // namespace texts
