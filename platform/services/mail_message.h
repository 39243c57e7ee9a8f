// MailMessage is the "CDO.Message" stand-in: a plain-text message that Send
// writes, as one RFC 5322 message (UTF-8, MIME headers, CRLF line ends, Date
// and Message-ID), into a pickup directory, where the mail service collects
// it. The file appears under a unique name ("<id>.eml") all at once: it is
// written under a temporary name first and then renamed.
//
//   msg.Configuration.Fields.Item(".../sendusing") = 1            ' pickup
//   msg.Configuration.Fields.Item(".../smtpserverpickupdirectory") = dir
//   msg.Configuration.Fields.Update
//   msg.Subject = ...: msg.From = ...: msg.To = ...: msg.TextBody = ...
//   msg.Send
//
// Configuration fields are named by their full schema name or by its last
// segment. A relative pickup directory is taken against the instance home.
// Headers never take a line break from a value: subjects are written as
// encoded words, and an address holding anything but an address (CR, LF,
// NUL, a second header) makes Send fail with error 5 before anything is
// written.
//
// Thread-safety: one caller at a time per message.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"

namespace platform {

class MailFields : public Dispatchable<MailFields> {
 public:
  static const ClassBinding<MailFields>& Binding();
  Variant Item(const std::string& name) const;
  void SetItem(const std::string& name, const Variant& value);
  void Update() {}
  int32_t Count() const { return values_->Count(); }

 private:
  std::shared_ptr<Dictionary> values_ = Dictionary::New();
};

class MailConfiguration : public Dispatchable<MailConfiguration> {
 public:
  static const ClassBinding<MailConfiguration>& Binding();
  std::shared_ptr<MailFields> Fields() const { return fields_; }

 private:
  std::shared_ptr<MailFields> fields_ = std::make_shared<MailFields>();
};

class MailMessage : public Dispatchable<MailMessage> {
 public:
  static const ClassBinding<MailMessage>& Binding();

  std::shared_ptr<MailConfiguration> Configuration() const { return configuration_; }
  std::string Subject() const { return subject_; }
  void SetSubject(const std::string& v) { subject_ = v; }
  std::string Sender() const { return sender_; }
  void SetSender(const std::string& v) { sender_ = v; }
  std::string From() const { return from_; }
  void SetFrom(const std::string& v) { from_ = v; }
  std::string To() const { return to_; }
  void SetTo(const std::string& v) { to_ = v; }
  std::string TextBody() const { return body_; }
  void SetTextBody(const std::string& v) { body_ = v; }
  bool MimeFormatted() const { return mime_; }
  void SetMimeFormatted(bool v) { mime_ = v; }

  // Writes the message into the pickup directory.
  void Send();
  // The file the last Send wrote.
  const std::filesystem::path& last_file() const { return last_file_; }
  // The message text Send writes (for tests and the demo).
  std::string Render(const std::string& message_id) const;

 private:
  std::shared_ptr<MailConfiguration> configuration_ = std::make_shared<MailConfiguration>();
  std::string subject_, sender_, from_, to_, body_;
  bool mime_ = true;
  std::filesystem::path last_file_;
};

}  // namespace platform
