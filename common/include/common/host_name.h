// Names this machine and its mail go by: the greeting name of an SMTP session
// and the right-hand side of a Message-Id must be domain names, never a bare
// host name such as "vm", which receiving servers score as spam.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

// A domain name as mail headers and SMTP greetings take it: labels of
// letters, digits and hyphens (no hyphen at either end), at least two of
// them, 253 bytes at most.
bool isDomainName(std::string_view name);

// A name an SMTP client may greet with (RFC 5321 4.1.1.1): a domain name or an
// address literal ("[192.0.2.1]", "[IPv6:2001:db8::1]").
bool isGreetingName(std::string_view name);

// The domain of an address ("a@example.co.jp", also "Name <a@example.co.jp>"),
// or empty when the text after its last "@" is not a domain name.
std::string addressDomain(std::string_view address);

// The machine's fully qualified name: the host name when it is already a domain
// name, else the resolver's canonical name for it when that is one; empty when
// the machine has none. Looked up once per process.
std::string fullyQualifiedHostName();

}  // namespace tarn
