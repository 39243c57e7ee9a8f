#include "platform/services/mail_message.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <system_error>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/guid.h"
#include "platform/core/text.h"
#include "platform/host/instance.h"

namespace platform {

namespace {

constexpr char kSource[] = "CDO.Message";

// "http://schemas.microsoft.com/cdo/configuration/sendusing" -> "sendusing".
std::string FieldKey(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return text::LowerAscii(slash == std::string::npos ? name : name.substr(slash + 1));
}

std::string Base64(std::string_view in) {
  static const char* kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i + 1 == in.size()) {
    const uint32_t n = uint8_t(in[i]) << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    const uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

// The subject as encoded words of at most 45 bytes each (never splitting a
// UTF-8 sequence), folded onto continuation lines. Control characters
// (CR, LF, NUL, ...) become blanks first: a subject is one line of text.
// Text as encoded words of at most 45 bytes each (never splitting a UTF-8
// sequence), separated by `separator`.
std::string EncodedWords(std::string_view text, const char* separator) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = std::min(text.size(), i + 45);
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    if (!out.empty()) out += separator;
    out += "=?UTF-8?B?" + Base64(text.substr(i, end - i)) + "?=";
    i = end;
  }
  return out;
}

std::string EncodeSubject(const std::string& subject) {
  std::string clean;
  clean.reserve(subject.size());
  for (char c : subject) clean += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
  bool plain = clean.size() <= 70;
  for (char c : clean)
    if (static_cast<unsigned char>(c) >= 0x80) plain = false;
  // "=?" could open an encoded word of the reader's own making.
  if (plain && clean.find("=?") == std::string::npos) return clean;
  return EncodedWords(clean, "\r\n ");
}

bool AddrSpec(std::string_view a) {
  const size_t at = a.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 >= a.size() || a.size() > 254) return false;
  static const std::string_view kLocal = "!#$%&'*+/=?^_`{|}~.-";
  for (size_t i = 0; i < at; ++i) {
    const char c = a[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && kLocal.find(c) == std::string_view::npos)
      return false;
  }
  for (size_t i = at + 1; i < a.size(); ++i) {
    const char c = a[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
  }
  return true;
}

// One address or a comma-separated list of "addr" or "Display <addr>";
// anything else (a line break, a second header, a stray quote) is refused.
// A display name beyond ASCII (a shop's name in its own language) is written
// as encoded words, as a header must carry it.
std::string CheckedAddresses(const std::string& value, const char* header) {
  std::string out;
  size_t start = 0;
  bool any = false;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    const std::string_view part = text::TrimBlanks(std::string_view(value).substr(start, comma - start));
    bool ok = false;
    std::string written(part);
    if (AddrSpec(part)) {
      ok = true;
    } else if (!part.empty() && part.back() == '>') {
      const size_t lt = part.rfind('<');
      if (lt != std::string_view::npos && AddrSpec(part.substr(lt + 1, part.size() - lt - 2))) {
        ok = true;
        bool ascii = true;
        for (char c : part.substr(0, lt)) {
          const auto u = static_cast<unsigned char>(c);
          if (u >= 0x80) ascii = false;
          if (u < 0x20 || u == 0x7f || c == '"' || c == '<' || c == '>' || c == '\\') ok = false;
        }
        if (ok && !ascii) {
          written = EncodedWords(text::TrimBlanks(part.substr(0, lt)), " ") + " " +
                    std::string(part.substr(lt));
        }
      }
    }
    if (!ok) {
      Raise(err::kInvalidProcedureCall, kSource,
            std::string("The ") + header + " address '" + std::string(part.substr(0, 200)) +
                "' is not an e-mail address");
    }
    if (any) out += ", ";
    out += written;
    any = true;
    start = comma + 1;
  }
  return out;
}

// The Date header of a message written now. The text is kept for the second
// it names: messages of one run share it, and mktime, which looks at the
// zone file again on every call, runs once a second, not once a message.
std::string DateHeader() {
  const Date now = Clock::Now();
  thread_local double cached_serial = -1;
  thread_local std::string cached_text;
  if (now.serial() == cached_serial && !cached_text.empty()) return cached_text;
  std::tm tm{};
  tm.tm_year = now.year() - 1900;
  tm.tm_mon = now.month() - 1;
  tm.tm_mday = now.day();
  tm.tm_hour = now.hour();
  tm.tm_min = now.minute();
  tm.tm_sec = now.second();
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);  // local time, as the clock gives it
  std::tm local{};
  localtime_r(&t, &local);
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const long offset = local.tm_gmtoff / 60;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                std::labs(offset) / 60, std::labs(offset) % 60);
  cached_serial = now.serial();
  cached_text = buf;
  return cached_text;
}

std::string NewId() {
  const auto g = NewGuid();
  if (!g) Raise(err::kUnspecified, kSource, "No message id can be made: the system gives no randomness");
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", g->data1, g->data2,
                g->data3, g->data4[0], g->data4[1], g->data4[2], g->data4[3], g->data4[4],
                g->data4[5], g->data4[6], g->data4[7]);
  return buf;
}

// The host's name, asked once per process: it goes into every Message-ID.
const std::string& HostName() {
  static const std::string name = [] {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return std::string("localhost");
    std::string h(buf);
    for (char& c : h)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '-';
    return h;
  }();
  return name;
}

// Writes `text` as the new file `path`: one open, the bytes in one write (more
// only if the kernel takes less), one close. False with errno set when the
// file cannot be made or written; a half-written file is removed.
bool WriteNewFile(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  int failure = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0) return true;
  ::unlink(path.c_str());
  errno = failure;
  return false;
}

}  // namespace

const ClassBinding<MailFields>& MailFields::Binding() {
  static const auto b = ClassBinding<MailFields>("Fields")
                            .Property("Item", &MailFields::Item, &MailFields::SetItem)
                            .Property("Count", &MailFields::Count)
                            .Method("Update", &MailFields::Update);
  return b;
}

Variant MailFields::Item(const std::string& name) const { return values_->Item(FieldKey(name)); }
void MailFields::SetItem(const std::string& name, const Variant& value) {
  values_->SetItem(FieldKey(name), value);
}

const ClassBinding<MailConfiguration>& MailConfiguration::Binding() {
  static const auto b = ClassBinding<MailConfiguration>("Configuration")
                            .Property("Fields", &MailConfiguration::Fields);
  return b;
}

const ClassBinding<MailMessage>& MailMessage::Binding() {
  static const auto b =
      ClassBinding<MailMessage>("Message")
          .Property("Configuration", &MailMessage::Configuration)
          .Property("Subject", &MailMessage::Subject, &MailMessage::SetSubject)
          .Property("Sender", &MailMessage::Sender, &MailMessage::SetSender)
          .Property("From", &MailMessage::From, &MailMessage::SetFrom)
          .Property("To", &MailMessage::To, &MailMessage::SetTo)
          .Property("TextBody", &MailMessage::TextBody, &MailMessage::SetTextBody)
          .Property("MimeFormatted", &MailMessage::MimeFormatted, &MailMessage::SetMimeFormatted)
          .Method("Send", &MailMessage::Send);
  return b;
}

std::string MailMessage::Render(const std::string& message_id) const {
  const std::string from = CheckedAddresses(from_.empty() ? sender_ : from_, "From");
  const std::string to = CheckedAddresses(to_, "To");
  const std::string sender = sender_.empty() ? "" : CheckedAddresses(sender_, "Sender");
  std::string m;
  m.reserve(body_.size() * 4 / 3 + 1024);
  m += "Date: " + DateHeader() + "\r\n";
  m += "From: " + from + "\r\n";
  if (!sender.empty() && sender != from) m += "Sender: " + sender + "\r\n";
  m += "To: " + to + "\r\n";
  m += "Subject: " + EncodeSubject(subject_) + "\r\n";
  m += "Message-ID: <" + message_id + "@" + HostName() + ">\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "Content-Type: text/plain; charset=UTF-8\r\n";
  m += "Content-Transfer-Encoding: base64\r\n";
  m += "\r\n";
  // Line ends of the body become CRLF before it is encoded, so the decoded
  // text has them too.
  std::string body;
  body.reserve(body_.size() + body_.size() / 16);
  for (size_t i = 0; i < body_.size(); ++i) {
    const char c = body_[i];
    if (c == '\r') {
      body += "\r\n";
      if (i + 1 < body_.size() && body_[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      body += "\r\n";
    } else {
      body += c;
    }
  }
  const std::string encoded = Base64(body);
  for (size_t i = 0; i < encoded.size(); i += 76) m += encoded.substr(i, 76) + "\r\n";
  return m;
}

void MailMessage::Send() {
  const Variant using_value = configuration_->Fields()->Item("sendusing");
  if (using_value.IsMissing() || using_value.ToLong() != 1) {
    Raise(err::kInvalidProcedureCall, kSource,
          "Only delivery through a pickup directory (sendusing 1) is available");
  }
  const Variant dir_value = configuration_->Fields()->Item("smtpserverpickupdirectory");
  if (dir_value.IsMissing() || dir_value.ToString().empty())
    Raise(err::kInvalidProcedureCall, kSource, "No pickup directory is configured");
  const std::filesystem::path dir = ResolveInstancePath(dir_value.ToString());
  const std::string id = NewId();
  const std::string text = Render(id);  // refuses bad addresses before any file exists
  const std::filesystem::path temp = dir / (id + ".tmp");
  const std::filesystem::path final_path = dir / (id + ".eml");
  // The pickup directory is made when a message finds it missing, not
  // looked at before every message.
  bool written = WriteNewFile(temp.string(), text);
  if (!written && errno == ENOENT) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    written = WriteNewFile(temp.string(), text);
  }
  if (!written)
    Raise(err::kPermissionDenied, kSource, "The message cannot be written to " + dir.string());
  // The rename makes the message appear whole under its final name.
  if (::rename(temp.c_str(), final_path.c_str()) != 0) {
    ::unlink(temp.c_str());
    Raise(err::kPermissionDenied, kSource, "The message cannot be placed in " + dir.string());
  }
  last_file_ = final_path;
}

}  // namespace platform
