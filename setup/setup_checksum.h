// The first step of every run: is the setup file on disk intact?
#pragma once

// False only when the check ran and the checksum in the file's PE header
// differs from the checksum of its contents (the message has then been shown);
// true in every other case, including when the check cannot be carried out.
[[nodiscard]] bool VerifySetupChecksum() noexcept;
