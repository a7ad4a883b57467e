// The profile this run serves (-profile NAME), set once at start-up before
// anything reads the state folder or the archive's default folder. Empty: no
// profile. NAME must already have been checked (ProfileNameProblem).
#pragma once

#include <QString>

void SetRunProfile(const QString& name);
const QString& RunProfile();
