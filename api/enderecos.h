// The PC's own IPv4 addresses on the local network, for the pairing link and the tray.
#pragma once

#include <string>
#include <vector>

namespace velorin {

// The address the system would use to reach the internet; empty when there is none.
std::string EnderecoPrincipal();
// Local-network addresses, the main one first; loopback and link-local addresses from the
// host-name lookup are left out.
std::vector<std::string> EnderecosLocais();
// Whether the text is an IPv4 address in 100.64.0.0/10.
bool EnderecoTailscale(const std::string& texto);

// The list rule on its own: `principal` (may be empty) first when it is local, then each
// resolved address that is local, not loopback, not link-local and not yet listed.
std::vector<std::string> MontarEnderecosLocais(const std::string& principal,
                                               const std::vector<std::string>& resolvidos);

}  // namespace velorin
