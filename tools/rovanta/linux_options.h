// The Linux program's own command line, read before the host's mode scan.
#pragma once

// --help or --version as the first argument: prints the answer, sets the
// exit status and returns true; anything else returns false.
bool answerInformationOption(int argc, char** argv, int* status);

#if defined(ROVANTA_DESKTOP)
// Runs at exit, after the tear-down: a termination signal that ended the run
// ends the process too, by its default action, as the daemon expects of a hack.
void endByTheTerminationSignal();

// The hack's options: settings for this run only, checked as the dialog
// checks them, and the frame rate.
void readRunOptions(int argc, char** argv);
#endif
