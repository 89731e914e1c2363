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

// Signing in with OAuth2, POP3 and SMTP alike.
namespace oauth {
inline constexpr std::string_view kTlsOnly = "OAuth2は暗号化した接続でのみ使えます";
inline constexpr std::string_view kNoClientId = "OAuth2のクライアントIDが設定されていません";
// Followed by the user's presets file, on the line after kNoClientId.
inline constexpr std::string_view kClientIdFile = "クライアントIDを設定するファイル：";
inline constexpr std::string_view kNoMechanism =
    "サーバーがOAuth2（OAUTHBEARER・XOAUTH2）でのサインインに対応していません";
inline constexpr std::string_view kNoToken = "OAuth2のサインインができませんでした";
// Followed by the server's error, then kSignInAgain.
inline constexpr std::string_view kRefused = "サーバーがOAuth2のサインインを受け付けませんでした";
inline constexpr std::string_view kSignInAgain = "次の接続でもう一度ブラウザでサインインしてください";
}  // namespace oauth

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
// The sixth column, shown while the account marks new mail or applies rules.
inline constexpr std::string_view kState = "状態";
// Its text: the marks that apply, in this order, joined by kMarkSeparator.
inline constexpr std::string_view kNewMark = "新着";
inline constexpr std::string_view kJunkMark = "迷惑:";  // followed by the rule's name
inline constexpr std::string_view kFriendMark = "友人";
inline constexpr std::string_view kMarkSeparator = "・";
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
inline constexpr std::string_view kSweep = "一掃(&S)";
// Names for screen readers.
inline constexpr std::string_view kAccountsName = "アカウント";
inline constexpr std::string_view kConnectName = "接続";
inline constexpr std::string_view kDisconnectName = "切断";
inline constexpr std::string_view kReadName = "読む";
inline constexpr std::string_view kDeleteName = "削除";
inline constexpr std::string_view kWriteName = "書く";
inline constexpr std::string_view kSweepName = "一掃";
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
inline constexpr std::string_view kSortByState = "状態で整列";
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
// %1: the number of rows marked junk.
inline constexpr std::string_view kSweepConfirm = "迷惑メール %1 通をサーバーから削除します。よろしいですか？";
// The second status-bar panel after a listing: new rows, junk rows.
inline constexpr std::string_view kMarkCounts = "新着 %1 通・迷惑 %2 通";
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
inline constexpr std::string_view kMarkNew = "新着メールに印を付ける";
inline constexpr std::string_view kApplyRules = "規則で迷惑メールに印を付ける";
inline constexpr std::string_view kPopBeforeSmtp = "POP before SMTP";
inline constexpr std::string_view kSmtpAuth = "SMTP認証";
inline constexpr std::string_view kAccountName = "アカウント設定名：";
inline constexpr std::string_view kAccountNameExample = "例：会社のメール";
inline constexpr std::string_view kOAuth2 = "OAuth2（ブラウザでサインイン）";
inline constexpr std::string_view kOAuthProvider = "OAuth2のプロバイダー：";
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
inline constexpr std::string_view kOAuth2 = "OAuth2";
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

// The OAuth2 sign-in in the browser.
namespace signin {
inline constexpr std::string_view kWaitTitle = "OAuth2サインイン";
inline constexpr std::string_view kWaitPrompt = "ブラウザでサインインしてください…";
inline constexpr std::string_view kCancel = "キャンセル";
// Above the prompt when the stored sign-in was refused.
inline constexpr std::string_view kSignInAgain =
    "保存されていたサインインは使えなくなりました。もう一度サインインしてください。";
inline constexpr std::string_view kCancelled = "サインインを中止しました";
inline constexpr std::string_view kTimedOut = "5分以内にサインインが終わらなかったため、中止しました";
inline constexpr std::string_view kStateMismatch =
    "ブラウザからの応答がこのサインインのものではないため、受け付けませんでした";
inline constexpr std::string_view kBadRedirect = "ブラウザからの応答を読み取れませんでした";
// %1: the provider's error code and description.
inline constexpr std::string_view kDenied = "サインインできませんでした（%1）";
// %1: the token endpoint's error, or the network's.
inline constexpr std::string_view kTokenFailed = "アクセストークンを取得できませんでした（%1）";
// %1: the endpoint's URL.
inline constexpr std::string_view kInsecureEndpoint = "OAuth2の接続先が https ではないため使えません：%1";
// %1: the preset's field name.
inline constexpr std::string_view kIncomplete = "OAuth2の設定に %1 がありません";
// %1: why.
inline constexpr std::string_view kListenFailed = "サインインの応答を受け取る準備ができませんでした（%1）";
inline constexpr std::string_view kBrowserFailed = "ブラウザを開けませんでした";
// The pages the browser shows at the end.
inline constexpr std::string_view kPageDone =
    "サインインが終わりました。このページを閉じて Boxsweeper に戻ってください。";
inline constexpr std::string_view kPageFailed = "サインインできませんでした。Boxsweeper に戻ってください。";
}  // namespace signin
// The rule list that marks junk and friends.
namespace rules {
// Log lines: %1 the rule's name, %2 the message number.
inline constexpr std::string_view kGaveUpLog =
    "規則「%1」はメッセージ %2 で正規表現の照合の上限に達したため、一致しないものとしました";
inline constexpr std::string_view kOutOfTimeLog =
    "メッセージ %2 の規則の判定が時間内に終わらなかったため、残りの規則は一致しないものとしました";
// The main window's button and the mail list's menu.
inline constexpr std::string_view kRulesButton = "規則(&U)...";
inline constexpr std::string_view kRulesButtonName = "規則";
inline constexpr std::string_view kAddSenderToJunk = "差出人を迷惑に追加";
inline constexpr std::string_view kAddSenderToFriends = "差出人を友人に追加";
inline constexpr std::string_view kNotSaved = "規則を保存できませんでした";
// The rules dialog.
inline constexpr std::string_view kTitle = "迷惑メールと友人の規則";
inline constexpr std::string_view kAdd = "追加(&A)...";
inline constexpr std::string_view kEdit = "編集(&E)...";
inline constexpr std::string_view kRemove = "削除(&R)";
inline constexpr std::string_view kUp = "上へ(&P)";
inline constexpr std::string_view kDown = "下へ(&N)";
inline constexpr std::string_view kOk = "決定(&O)";
inline constexpr std::string_view kCancel = "中止(&C)";
inline constexpr std::string_view kKindColumn = "種類";
inline constexpr std::string_view kNameColumn = "名前";
inline constexpr std::string_view kFieldColumn = "項目";
inline constexpr std::string_view kOpColumn = "条件";
inline constexpr std::string_view kValueColumn = "値";
// A line of the file that is not a rule, and its line number.
inline constexpr std::string_view kInvalid = "無効な規則";
inline constexpr std::string_view kLineNumber = "%1行目";
// Kinds, fields and ops as the dialog shows them; the file keeps its
// English keywords.
inline constexpr std::string_view kJunk = "迷惑";
inline constexpr std::string_view kFriend = "友人";
inline constexpr std::string_view kFromAddress = "差出人のアドレス";
inline constexpr std::string_view kFrom = "差出人";
inline constexpr std::string_view kSubject = "題名";
inline constexpr std::string_view kTo = "あて先（To）";
inline constexpr std::string_view kCc = "CC";
inline constexpr std::string_view kHeader = "ヘッダー";
inline constexpr std::string_view kSize = "サイズ";
inline constexpr std::string_view kContains = "を含む";
inline constexpr std::string_view kIs = "と一致する";
inline constexpr std::string_view kStarts = "で始まる";
inline constexpr std::string_view kEnds = "で終わる";
inline constexpr std::string_view kRegex = "正規表現に一致する";
inline constexpr std::string_view kOver = "より大きい（バイト）";
inline constexpr std::string_view kUnder = "より小さい（バイト）";
// The editor of one rule.
inline constexpr std::string_view kEditTitle = "規則の編集";
inline constexpr std::string_view kKindLabel = "種類：";
inline constexpr std::string_view kNameLabel = "名前：";
inline constexpr std::string_view kFieldLabel = "項目：";
inline constexpr std::string_view kHeaderLabel = "ヘッダー名：";
inline constexpr std::string_view kOpLabel = "条件：";
inline constexpr std::string_view kValueLabel = "値：";
// Why the editor refuses a rule.
inline constexpr std::string_view kBadText = "名前と値に改行やタブなどの制御文字は使えません";
inline constexpr std::string_view kBadHeader = "ヘッダー名を正しく入力してください（コロンと空白は使えません）";
inline constexpr std::string_view kBadOp = "この項目には使えない条件です";
inline constexpr std::string_view kEmptyValue = "値を入力してください";
inline constexpr std::string_view kBadSize = "サイズはバイト数を半角数字で入力してください";
inline constexpr std::string_view kBadRegex = "正規表現が正しくありません";
}  // namespace rules

// The password prompt.
namespace password {
inline constexpr std::string_view kTitle = "パスワードの入力";
inline constexpr std::string_view kPrompt = "パスワードを入力してください";
inline constexpr std::string_view kOk = "決定(&Enter)";
inline constexpr std::string_view kBadCharacter = "パスワードに使えない文字が含まれています";
}  // namespace password

}  // namespace texts
