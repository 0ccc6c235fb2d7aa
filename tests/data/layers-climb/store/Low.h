#pragma once
#include "settings/Fine.h"
#include "ui/High.h"
