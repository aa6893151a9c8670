// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "set_options.h"

#include "chip_targets.h"

#include "tool_text.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char tool[] = "pwm-set";

void print_usage()
{
	printf("Usage: %s [OPTIONS] -c CHIP -p N\n"
	       "Set the waveform of one channel of a PWM chip and leave it running.\n"
	       "%s"
	       "TIME: 20ms, 1.5ms, 500us, 20000 (ns). FREQ: 50Hz, 25kHz, 1.5MHz. SHARE: 25%%, 7.5%%.\n"
	       "Options:\n"
	       "  -c, --chip=CHIP           the chip (required)\n"
	       "  -p, --channel=N           its channel N (required)\n"
	       "  -P, --period=TIME         the period\n"
	       "  -f, --frequency=FREQ      the period, as a frequency\n"
	       "  -d, --duty=TIME|SHARE     how long the output is active in each period\n"
	       "  -o, --offset=TIME|SHARE   when the active part starts in the period (default 0)\n"
	       "  -i, --inversed            the active part ends at the period's end\n"
	       "      --off                 switch the output off\n"
	       "  -H, --hold[=DURATION]     hold the channel until a signal, or for DURATION (s by default)\n"
	       "  -r, --round               print what the hardware would make of it; change nothing\n"
	       "  -v, --verbose             print what the channel runs after setting it\n"
	       "  -h, --help                print this help and exit\n"
	       "      --version             print the version and exit\n",
	       tool, chip_help);
}

bool refuse(const char *what, const char *text, const char *why)
{
	fprintf(stderr, "%s: invalid %s '%s': %s\n", tool, what, text, why);
	return false;
}

bool parse_channel(const char *text, unsigned int *channel)
{
	if (parse_unsigned(text, channel))
		return true;
	const bool digits_only = *text != '\0' && strspn(text, "0123456789") == strlen(text);
	return refuse("channel", text, digits_only ? "past 32 bits" : "not a number");
}

// The texts of the waveform's options, converted once all are read.
struct waveform_texts {
	const char *period, *frequency, *duty, *offset;
	bool inversed, off;
};

// A duty or an offset, as a time or a share of period, into *ns.
bool part_of_period(const char *what, const char *text, uint64_t period, uint64_t *ns, enum written_as *as,
		    enum time_unit *unit)
{
	const char *why = nullptr;
	if (is_share(text)) {
		struct period_share share = {};
		why = parse_share(text, &share);
		if (why == nullptr)
			*ns = share_of(period, share);
		*as = WRITTEN_SHARE;
	} else {
		why = parse_time(text, UNIT_NS, ns, unit);
		if (why == nullptr && *ns > period)
			why = "more than the period";
		*as = WRITTEN_TIME;
	}
	return why == nullptr || refuse(what, text, why);
}

bool waveform_of(const struct waveform_texts &t, struct set_options *o)
{
	const bool any_waveform = t.period != nullptr || t.frequency != nullptr || t.duty != nullptr ||
		t.offset != nullptr || t.inversed;
	if (t.off) {
		if (any_waveform) {
			fprintf(stderr, "%s: --off takes no period, duty or offset\n", tool);
			return false;
		}
		o->wf = { 0, 0, 0 };
		return true;
	}
	if (t.period != nullptr && t.frequency != nullptr) {
		fprintf(stderr, "%s: -P and -f both give the period: one of them\n", tool);
		return false;
	}
	if (t.offset != nullptr && t.inversed) {
		fprintf(stderr, "%s: -o and -i both place the active part: one of them\n", tool);
		return false;
	}

	const char *why = nullptr;
	if (t.period != nullptr) {
		why = parse_time(t.period, UNIT_NS, &o->wf.period_length_ns, &o->period_unit);
		if (why == nullptr && o->wf.period_length_ns > INT64_MAX)
			why = "above 2^63 - 1 ns";
		if (why == nullptr && o->wf.period_length_ns == 0)
			why = "0 is no period (--off switches the output off)";
		if (why != nullptr)
			return refuse("period", t.period, why);
		o->period_as = WRITTEN_TIME;
	} else if (t.frequency != nullptr) {
		why = parse_frequency(t.frequency, &o->wf.period_length_ns);
		if (why != nullptr)
			return refuse("frequency", t.frequency, why);
		o->period_as = WRITTEN_FREQUENCY;
	}

	if (t.duty == nullptr) {
		fprintf(stderr, "%s: no duty given (-d), nor --off\n", tool);
		return false;
	}
	if (o->period_as == WRITTEN_NOT) {
		fprintf(stderr, "%s: a duty needs a period (-P or -f)\n", tool);
		return false;
	}
	const uint64_t period = o->wf.period_length_ns;
	if (!part_of_period("duty", t.duty, period, &o->wf.duty_length_ns, &o->duty_as, &o->duty_unit))
		return false;
	if (t.offset != nullptr) {
		if (!part_of_period("offset", t.offset, period, &o->wf.duty_offset_ns, &o->offset_as,
				    &o->offset_unit))
			return false;
		if (o->wf.duty_offset_ns == period)
			return refuse("offset", t.offset, "not below the period");
	} else if (t.inversed && o->wf.duty_length_ns != 0) {
		// Without an active part there is nothing to place.
		o->wf.duty_offset_ns = period - o->wf.duty_length_ns;
	}
	return true;
}

} // namespace

int parse_set_options(int argc, char **argv, struct set_options *options)
{
	enum { OPT_OFF = 256, OPT_VERSION };
	static const struct option long_options[] = {
		{ "chip", required_argument, nullptr, 'c' },
		{ "channel", required_argument, nullptr, 'p' },
		{ "period", required_argument, nullptr, 'P' },
		{ "frequency", required_argument, nullptr, 'f' },
		{ "duty", required_argument, nullptr, 'd' },
		{ "offset", required_argument, nullptr, 'o' },
		{ "inversed", no_argument, nullptr, 'i' },
		{ "off", no_argument, nullptr, OPT_OFF },
		{ "hold", optional_argument, nullptr, 'H' },
		{ "round", no_argument, nullptr, 'r' },
		{ "verbose", no_argument, nullptr, 'v' },
		{ "help", no_argument, nullptr, 'h' },
		{ "version", no_argument, nullptr, OPT_VERSION },
		{ nullptr, 0, nullptr, 0 },
	};
	*options = {};
	struct waveform_texts texts = {};
	bool have_channel = false;
	int opt;
	while ((opt = getopt_long(argc, argv, "+c:p:P:f:d:o:iH::rvh", long_options, nullptr)) != -1) {
		switch (opt) {
		case 'c':
			options->chip = optarg;
			break;
		case 'p':
			if (!parse_channel(optarg, &options->channel))
				return 1;
			have_channel = true;
			break;
		case 'P':
			texts.period = optarg;
			break;
		case 'f':
			texts.frequency = optarg;
			break;
		case 'd':
			texts.duty = optarg;
			break;
		case 'o':
			texts.offset = optarg;
			break;
		case 'i':
			texts.inversed = true;
			break;
		case OPT_OFF:
			texts.off = true;
			break;
		case 'H':
			options->hold = true;
			options->hold_until_signal = optarg == nullptr;
			if (optarg != nullptr) {
				enum time_unit unit = UNIT_S;
				if (const char *why = parse_time(optarg, UNIT_S, &options->hold_ns, &unit);
				    why != nullptr) {
					refuse("hold duration", optarg, why);
					return 1;
				}
			}
			break;
		case 'r':
			options->round = true;
			break;
		case 'v':
			options->verbose = true;
			break;
		case OPT_VERSION:
			print_version(tool);
			return 0;
		default:
			return common_option(tool, opt, print_usage);
		}
	}
	if (optind < argc) {
		fprintf(stderr, "%s: unexpected argument '%s'\n", tool, argv[optind]);
		print_help_hint(tool);
		return 1;
	}
	if (!waveform_of(texts, options))
		return 1;
	if (options->round && options->hold) {
		fprintf(stderr, "%s: -r changes nothing, so there is nothing to hold (-H)\n", tool);
		return 1;
	}
	if (options->chip == nullptr || !have_channel) {
		fprintf(stderr, "%s: which channel: -c CHIP and -p N are both required\n", tool);
		print_help_hint(tool);
		return 1;
	}
	return -1;
}
