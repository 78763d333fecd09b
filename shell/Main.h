#pragma once

// The module of window and file routines every page shares, one file a job:
// twips, the look, centring, the hand pointer and the home page.

#include "shell/Centring.h"
#include "shell/HandPointer.h"
#include "shell/HomePage.h"
#include "shell/Look.h"
#include "shell/Twips.h"
