// CDO.Message: what Send writes into the pickup directory is one message any
// mail reader parses (checked with Python's email package in its strict
// mode), texts survive in UTF-8, and no value can add a header.
#include "platform/services/mail_message.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/core/com_error.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::MailMessage;
using platform::Variant;

class MailTest : public vendra_test::InstanceTest {
 protected:
  MailMessage Message(const std::string& subject, const std::string& to) {
    MailMessage m;
    auto fields = m.Configuration()->Fields();
    fields->SetItem("http://schemas.microsoft.com/cdo/configuration/sendusing", Variant(int32_t{1}));
    fields->SetItem("http://schemas.microsoft.com/cdo/configuration/smtpserverpickupdirectory",
                    Variant("mail\\pickup"));
    fields->Update();
    m.SetSubject(subject);
    m.SetFrom("erp-orders@shop.example");
    m.SetSender("erp-orders@shop.example");
    m.SetTo(to);
    m.SetTextBody("Zeile eins: Grüße\nline two\r\nline three " + std::string(300, 'y'));
    return m;
  }
  int PickupFiles() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(home() / "mail" / "pickup")) {
      (void)e;
      ++n;
    }
    return n;
  }
  // The message as Python's email package reads it, strictly: any defect
  // raises and the script prints nothing.
  nlohmann::json Parse(const std::filesystem::path& file) {
    const std::string script =
        "import email, email.policy, json, sys\n"
        "raw = open(sys.argv[1], 'rb').read()\n"
        "assert b'\\n' not in raw.replace(b'\\r\\n', b'')\n"
        "m = email.message_from_bytes(raw, policy=email.policy.strict)\n"
        "print(json.dumps({'headers': [k for k in m.keys()], 'subject': str(m['Subject']),\n"
        "  'to': str(m['To']), 'from': str(m['From']), 'date': str(m['Date']),\n"
        "  'id': str(m['Message-ID']), 'type': m.get_content_type(),\n"
        "  'body': m.get_content(), 'defects': len(m.defects)}))\n";
    const auto script_file = home() / "parse_mail.py";
    std::ofstream(script_file) << script;
    const std::string command = "python3 " + script_file.string() + " " + file.string();
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    while (pipe && fgets(buf, sizeof buf, pipe)) out += buf;
    if (pipe) pclose(pipe);
    if (out.empty()) {
      ADD_FAILURE() << "the mail parser refused " << file;
      return {};
    }
    return nlohmann::json::parse(out);
  }
};

TEST_F(MailTest, SendWritesOneMessageAMailReaderParses) {
  MailMessage m = Message("Web-Aufträge konnten nicht übergeben werden", "erp-stuttgart@shop.example");
  m.Send();
  ASSERT_EQ(PickupFiles(), 1);
  EXPECT_EQ(m.last_file().extension(), ".eml");
  const auto mail = Parse(m.last_file());
  ASSERT_FALSE(mail.is_null());
  EXPECT_EQ(mail["subject"], "Web-Aufträge konnten nicht übergeben werden");
  EXPECT_EQ(mail["to"], "erp-stuttgart@shop.example");
  EXPECT_EQ(mail["from"], "erp-orders@shop.example");
  EXPECT_EQ(mail["type"], "text/plain");
  EXPECT_EQ(mail["defects"], 0);
  EXPECT_FALSE(mail["date"].get<std::string>().empty());
  EXPECT_EQ(mail["id"].get<std::string>().front(), '<');
  EXPECT_EQ(mail["body"], "Zeile eins: Grüße\r\nline two\r\nline three " + std::string(300, 'y'));

  Message("second", "a@b.example").Send();
  EXPECT_EQ(PickupFiles(), 2) << "each message under a name of its own";
}

TEST_F(MailTest, NoValueCanAddAHeader) {
  // A subject is one line whatever it holds; long ones are folded.
  MailMessage m = Message("Refused\r\nBcc: thief@evil.example\r\n\r\nbody" + std::string(10000, 'z'),
                          "erp@shop.example");
  m.Send();
  const auto mail = Parse(m.last_file());
  ASSERT_FALSE(mail.is_null());
  for (const auto& h : mail["headers"]) EXPECT_NE(h, "Bcc");
  EXPECT_EQ(mail["subject"].get<std::string>().substr(0, 30), "Refused  Bcc: thief@evil.examp");

  // An address with anything but an address in it is refused, and nothing
  // is written.
  const std::string refused[] = {"erp@shop.example\r\nBcc: thief@evil.example",
                                 "erp@shop.example\nX: y", std::string("a@b\0c", 5),
                                 "\"quoted\" <a@b.example>", "not an address", ""};
  for (const std::string& to : refused) {
    const int before = PickupFiles();
    EXPECT_EQ(vendra_test::ErrorOf([&] { Message("s", to).Send(); }),
              platform::err::kInvalidProcedureCall)
        << to;
    EXPECT_EQ(PickupFiles(), before);
  }
  Message("s", "Erp Desk <erp@shop.example>, other@shop.example").Send();
}

// The pickup directory is not looked at before each message: one removed
// between two messages is made again by the next, and one that cannot be
// made fails the message with nothing left behind.
TEST_F(MailTest, APickupDirectoryIsMadeWhenMissingAndAFileInItsWayFails) {
  MailMessage m = Message("s", "a@b.example");
  m.Send();
  std::filesystem::remove_all(home() / "mail" / "pickup");
  m.Send();
  EXPECT_EQ(PickupFiles(), 1);
  EXPECT_EQ(m.last_file().extension(), ".eml");
  EXPECT_TRUE(std::filesystem::exists(m.last_file()));

  std::ofstream(home() / "mail" / "blocked") << "a file, not a directory";
  m.Configuration()->Fields()->SetItem("smtpserverpickupdirectory", Variant("mail/blocked/pickup"));
  EXPECT_EQ(vendra_test::ErrorOf([&] { m.Send(); }), platform::err::kPermissionDenied);
  EXPECT_EQ(PickupFiles(), 1);
}

TEST_F(MailTest, OnlyThePickupDirectoryDeliversMail) {
  MailMessage m = Message("s", "a@b.example");
  m.Configuration()->Fields()->SetItem("sendusing", Variant(int32_t{2}));
  EXPECT_EQ(vendra_test::ErrorOf([&] { m.Send(); }), platform::err::kInvalidProcedureCall);
}

}  // namespace
