// The mail corpus (see Corpus.h). Apart from the media corpus because it
// needs no codec library.
#include <sstream>

#include "bench/Corpus.h"

namespace {

const char* const kMailWords[] = {"budget", "meeting", "draft", "review", "plan", "note", "agenda", "summary"};

std::string Line(std::mt19937& rng, int words) {
  std::string line;
  for (int w = 0; w < words; ++w) line += std::string(kMailWords[rng() % 8]) + ' ';
  return line;
}

// Random bytes in base64, 76 characters a line, as mail programs write attachments.
std::string Base64Lines(std::mt19937& rng, size_t bytes) {
  static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t groups = bytes / 3;
  out.reserve(groups * 4 + groups / 19 * 2 + 2);
  for (size_t g = 0; g < groups; ++g) {
    uint32_t v = rng() & 0xFFFFFF;
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
    if (g % 19 == 18) out += "\r\n";
  }
  return out + "\r\n";
}

std::string Headers(std::mt19937& rng, int i, const std::string& subject) {
  std::ostringstream m;
  m << "Return-Path: <s" << i << "@example.org>\r\n";
  for (int hop = 0; hop < 3; ++hop)
    m << "Received: from mx" << hop << ".example.org (mx" << hop << ".example.org [192.0.2." << (rng() % 250)
      << "])\r\n\tby mail.example.net with ESMTPS id " << rng() << "\r\n\tfor <team@example.net>; Fri, 4 Dec 2026 "
      << 10 + hop << ":0" << hop << ":00 +0100\r\n";
  m << "Message-ID: <" << rng() << "." << i << "@example.org>\r\nDate: Fri, 4 Dec 2026 10:15:" << (10 + i % 50)
    << " +0100\r\nFrom: =?UTF-8?Q?Ren=C3=A9e_Sender_" << i << "?= <s" << i << "@example.org>\r\n"
    << "To: Team <team@example.net>, Ana Ruiz <ana@example.net>\r\nCc: Jon Berg <jon@example.net>\r\n"
    << "Subject: " << subject << "\r\nMIME-Version: 1.0\r\n";
  return m.str();
}

}  // namespace

std::string SmallMailMessage(std::mt19937& rng, int i) {
  std::ostringstream m;
  m << "From: Sender " << i << " <s" << i << "@example.org>\r\nTo: team@example.org\r\nSubject: "
    << kMailWords[rng() % 8] << " " << i << "\r\nMIME-Version: 1.0\r\n";
  int attachments = static_cast<int>(rng() % 3);
  m << "Content-Type: multipart/mixed; boundary=\"part\"\r\n\r\n--part\r\nContent-Type: text/plain\r\n\r\n";
  for (int line = 0; line < 40; ++line) {
    for (int w = 0; w < 10; ++w) m << kMailWords[rng() % 8] << ' ';
    m << "\r\n";
  }
  for (int a = 0; a < attachments; ++a)
    m << "--part\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"file" << a
      << ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQoLDA0ODw==\r\n";
  m << "--part--\r\n";
  return m.str();
}

// Every message has a text and an HTML body; two in three carry an
// attachment of 200 to 500 KB, and every third forwards a message of its own
// (message/rfc822) with a small attachment inside.
std::string RealisticMailMessage(std::mt19937& rng, int i) {
  std::ostringstream m;
  std::string subject = Line(rng, 4) + std::to_string(i);
  m << Headers(rng, i, subject) << "Content-Type: multipart/mixed; boundary=\"=_mixed_" << i << "\"\r\n\r\n"
    << "This is a multi-part message in MIME format.\r\n\r\n--=_mixed_" << i << "\r\n"
    << "Content-Type: multipart/alternative; boundary=\"=_alt_" << i << "\"\r\n\r\n--=_alt_" << i << "\r\n"
    << "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  std::string html;
  for (int line = 0; line < 60; ++line) {
    std::string text = Line(rng, 11);
    m << text << (line % 7 == 0 ? "caf=C3=A9 " : "") << "\r\n";
    html += "<p>" + text + "</p>\r\n";
  }
  m << "\r\n--=_alt_" << i << "\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n<html><body>\r\n"
    << html << "</body></html>\r\n--=_alt_" << i << "--\r\n";
  if (i % 3 != 2)
    m << "\r\n--=_mixed_" << i << "\r\nContent-Type: application/pdf; name=\"report-" << i
      << ".pdf\"\r\nContent-Disposition: attachment; filename=\"report-" << i
      << ".pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      << Base64Lines(rng, 200 * 1024 + rng() % (300 * 1024));
  if (i % 3 == 0) {
    m << "\r\n--=_mixed_" << i << "\r\nContent-Type: message/rfc822\r\nContent-Disposition: inline\r\n\r\n"
      << Headers(rng, i + 1000, "Fwd: " + Line(rng, 3)) << "Content-Type: multipart/mixed; boundary=\"=_inner_" << i
      << "\"\r\n\r\n--=_inner_" << i << "\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n";
    for (int line = 0; line < 20; ++line) m << Line(rng, 9) << "\r\n";
    m << "\r\n--=_inner_" << i << "\r\nContent-Type: image/png; name=\"chart.png\"\r\n"
      << "Content-Disposition: attachment; filename=\"chart.png\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      << Base64Lines(rng, 12 * 1024) << "\r\n--=_inner_" << i << "--\r\n";
  }
  m << "\r\n--=_mixed_" << i << "--\r\n";
  return m.str();
}
