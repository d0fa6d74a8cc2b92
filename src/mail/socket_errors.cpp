#include "mail/socket_errors.h"

#include "mail/socket_port.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace zkq {
namespace {

struct ErrorText {
  std::int32_t code;
  const char16_t* text;
};

// Sorted by code.
constexpr ErrorText kErrorTexts[] = {
    {10004, u"呼び出しが取り消された。"},
    {10013, u"指定されたアドレスは、ブロードキャストパケットの送信をサポートしていない。"},
    {10014, u"32ビットインターネットアドレス指定に誤りがあります。"},
    {10022, u"関数の呼び出し順番に誤りがある。"},
    {10024, u"利用可能なファイル番号が存在しない。"},
    {10035, u"このソケットはノンブロッキング型である。"},
    {10036, u"ブロッキング呼び出し進行中。"},
    {10037, u"ノンブロッキング型の処理を処理中。"},
    {10038, u"ソケット以外を指定した。"},
    {10039, u"リモートアドレスが指定されていない。"},
    {10040, u"データがバッファより大きいので切りつめられた。"},
    {10041, u"ソケットは指定されたプロトコルをサポートしていない。"},
    {10042, u"プロトコルのオプションに誤りがある。"},
    {10043, u"指定されたプロトコルはサポートされていない。"},
    {10044, u"指定されたソケットタイプはサポートされていない。"},
    {10045, u"指定されたソケットがサポートしていない操作である。"},
    {10046, u"指定されたアドレスファミリがサポートされていない。"},
    {10047, u"指定されたプロトコルでは、指定されたアドレスファミリがサポートされていない。"},
    {10048, u"指定されたアドレスは使用中。"},
    {10049, u"指定されたアドレスは使用できない。"},
    {10050, u"ネットワークがダウンしている。"},
    {10051, u"リモートホストのネットワークに接続できない。"},
    {10052, u"ネットワークから切断された。"},
    {10053, u"ネットワーク不良で接続が中止された。"},
    {10054, u"リモートホストから切断された。"},
    {10055, u"バッファ領域不足。"},
    {10056, u"ソケットはすでに接続されている。"},
    {10057, u"ソケットが接続されていない。"},
    {10058, u"ソケットがシャットダウンされている。"},
    {10060, u"接続処理タイムアウト。"},
    {10061, u"接続が拒否された。"},
    {10064, u"リモートホストがダウンしている。"},
    {10065, u"ホストへのルートが存在しない。"},
    {10067, u"プロセスが多すぎます。"},
    {10091, u"ネットワークサブシステムに通信するための準備ができていない。"},
    {10092, u"指定されたバージョンがサポートされていない。"},
    {10093, u"WSAStartup関数を呼び出していないか、失敗しています。"},
    {11001, u"ホストが見つからない。"},
    {11002, u"権限があるホストが見つからない。"},
    {11003, u"修復不可能なエラーが発生した。"},
    {11004, u"データレコードの型が要求されていない。"},
    {20001, u"このソケットではTLSを使用できない。"},
    {20002, u"サーバーがSTARTTLSに対応していない。"},
    {20003, u"TLSのハンドシェイクに失敗した。"},
    {20004, u"サーバー証明書が信頼されていない。"},
    {20005, u"サーバー証明書のホスト名が一致しない。"},
};

std::u16string Decimal(std::int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::int32_t SocketPort::StartTls(std::u16string_view) { return kTlsUnavailable; }

std::u16string SocketPort::LocalAddress() { return u""; }

std::u16string SocketErrorText(std::int32_t code) {
  const auto* found =
      std::lower_bound(std::begin(kErrorTexts), std::end(kErrorTexts), code,
                       [](const ErrorText& row, std::int32_t c) { return row.code < c; });
  if (found != std::end(kErrorTexts) && found->code == code) return found->text;
  std::u16string text(1, u'(');
  text += Decimal(code);
  text += u')';
  return text;
}

std::u16string SocketStartMessage(std::int32_t startResult, std::uint16_t version,
                                  std::int32_t maxSockets) {
  std::u16string message;
  if (startResult != 0) message = SocketErrorText(startResult);
  const int major = version & 0xFF;
  const int minor = version >> 8;
  if (major < 1 || (major == 1 && minor < 1)) {
    message = u"Windows Sockets version " + Decimal(major) + u"." + Decimal(minor) +
              u" is not supported by winsock.dll";
  }
  if (maxSockets <= 0) {
    message = u"This application requires a minimum of " + Decimal(1) + u" supported sockets.";
  }
  return message;
}

void ShowWarning(MessageBoxes& boxes, std::u16string_view text) {
  boxes.Show(std::u16string(text), MessageIcon::Exclamation);
}

void ShowAppError(MessageBoxes& boxes, std::u16string_view text) {
  boxes.Show(kAppErrorLine + std::u16string(u"\r\n") + std::u16string(text),
             MessageIcon::Exclamation);
}

void ShowInfo(MessageBoxes& boxes, std::u16string_view text) {
  boxes.Show(std::u16string(text), MessageIcon::Information);
}

}  // namespace zkq
