#pragma once

#include <QString>

#include <optional>
#include <vector>

struct CheckServer;

// Where --server logins find their passwords, so that none needs to stand on a command line.
struct PasswordSources {
    QString netrcPath;   // ~/.netrc unless --netrc-file names another
    bool netrcNamed = false; // named by --netrc-file: it must exist
};

// Fills in the user name and password of servers given without them, from the .netrc, from
// ORVALIS_PASSWORD, or from a prompt on the terminal once the server asks. `givenPassword`
// tells, per server, whether its password came with it. Returns the message of a refusal.
std::optional<QString> ResolvePasswords(std::vector<CheckServer> &servers, const std::vector<bool> &givenPassword,
                                        const PasswordSources &sources);
