#include "job_choices.h"

EncodingChoice CutChoice;
EncodingChoice JoinChoice;
