// quillet --add-account ADDRESS --user NAME, for scripted set-ups: the API
// password is one line of standard input (asked for without echo on a
// terminal). The sign-in is checked first; the account then goes to the
// running instance when there is one, else straight into config.xml and the
// password vault. Exit status 0 when the account was added, 1 with the
// reason on standard error.
#pragma once

struct TCommandLine;

int RunAddAccount(int argc, char* argv[], const TCommandLine& commandLine);
