/* SPDX-License-Identifier: (GPL-2.0 OR MIT) */
/*
 * What the simulated audio driver plays: the byte at each stream offset. One definition for the
 * preloaded board, the kernel board and whatever checks a capture against either, so it is
 * written in integers alone (the kernel has no floating point) and gives the same bytes
 * everywhere. Header-only plain C, includable from the kernel; audio_stream.h adds the programs'
 * C++ face.
 *
 * Content "counter": the 32-bit little-endian index o/4 of the 4-byte word that holds offset o,
 * so any slice proves where it came from. Content "tone": 16-bit little-endian stereo frames of
 * a sine of amplitude AUDIO_STREAM_AMPLITUDE, both channels alike, at rate/4 frames per second.
 *
 * The tone: frame f has the phase f * tone_mhz / (rate * 250) of a turn (rate * 250 is the
 * frame rate in milli-frames per second), taken modulo one turn in exact integers, so the
 * stream repeats exactly and a late frame is as exact as an early one. The sine is a quarter
 * wave table of sin(i * pi / 512) * 2^30, linearly interpolated.
 */
#ifndef BRINGUP_AUDIO_STREAM_CORE_H
#define BRINGUP_AUDIO_STREAM_CORE_H

#ifdef __KERNEL__
#include <linux/math64.h>
#include <linux/types.h>
#else
#include <stdint.h>
#endif

#define AUDIO_STREAM_AMPLITUDE 12000
/* The highest byte rate: a turn must stay within 32 bits of phase. */
#define AUDIO_STREAM_RATE_MAX 16000000LL
/* The highest tone frequency a setting may give, in milli-hertz. */
#define AUDIO_STREAM_TONE_MHZ_MAX 1000000000000LL

struct audio_stream {
	long long rate;		/* bytes per second, 0 to AUDIO_STREAM_RATE_MAX */
	int counter;		/* 1: the counter stream; 0: the tone */
	long long tone_mhz;	/* the tone's frequency in milli-hertz, 0 or more */
};

static const int32_t audio_stream_quarter_sine[257] = {
	0, 6588356, 13176464, 19764076, 26350943, 32936819,
	39521455, 46104602, 52686014, 59265442, 65842639, 72417357,
	78989349, 85558366, 92124163, 98686491, 105245103, 111799753,
	118350194, 124896179, 131437462, 137973796, 144504935, 151030634,
	157550647, 164064728, 170572633, 177074115, 183568930, 190056834,
	196537583, 203010932, 209476638, 215934457, 222384147, 228825464,
	235258165, 241682010, 248096755, 254502159, 260897982, 267283981,
	273659918, 280025552, 286380643, 292724951, 299058239, 305380268,
	311690799, 317989595, 324276419, 330551034, 336813204, 343062693,
	349299266, 355522689, 361732726, 367929144, 374111709, 380280190,
	386434353, 392573967, 398698801, 404808624, 410903207, 416982319,
	423045732, 429093217, 435124548, 441139496, 447137835, 453119340,
	459083786, 465030947, 470960600, 476872522, 482766489, 488642281,
	494499676, 500338453, 506158392, 511959275, 517740883, 523502998,
	529245404, 534967884, 540670223, 546352205, 552013618, 557654248,
	563273883, 568872310, 574449320, 580004702, 585538248, 591049748,
	596538995, 602005783, 607449906, 612871159, 618269338, 623644239,
	628995660, 634323400, 639627258, 644907034, 650162530, 655393548,
	660599890, 665781362, 670937767, 676068911, 681174602, 686254647,
	691308855, 696337036, 701339000, 706314559, 711263525, 716185713,
	721080937, 725949013, 730789757, 735602987, 740388522, 745146182,
	749875788, 754577161, 759250125, 763894504, 768510122, 773096806,
	777654384, 782182683, 786681534, 791150767, 795590213, 799999706,
	804379079, 808728167, 813046808, 817334838, 821592095, 825818421,
	830013654, 834177638, 838310216, 842411232, 846480531, 850517961,
	854523370, 858496606, 862437520, 866345964, 870221790, 874064853,
	877875009, 881652112, 885396022, 889106597, 892783698, 896427186,
	900036924, 903612776, 907154608, 910662286, 914135678, 917574653,
	920979082, 924348837, 927683790, 930983817, 934248793, 937478595,
	940673101, 943832191, 946955747, 950043650, 953095785, 956112036,
	959092290, 962036435, 964944360, 967815955, 970651112, 973449725,
	976211688, 978936898, 981625251, 984276646, 986890984, 989468165,
	992008094, 994510675, 996975812, 999403415, 1001793390, 1004145648,
	1006460100, 1008736660, 1010975242, 1013175761, 1015338134, 1017462281,
	1019548121, 1021595575, 1023604567, 1025575020, 1027506862, 1029400018,
	1031254418, 1033069992, 1034846671, 1036584389, 1038283080, 1039942680,
	1041563127, 1043144360, 1044686319, 1046188946, 1047652185, 1049075980,
	1050460278, 1051805027, 1053110176, 1054375676, 1055601479, 1056787540,
	1057933813, 1059040255, 1060106826, 1061133483, 1062120190, 1063066909,
	1063973603, 1064840240, 1065666786, 1066453210, 1067199483, 1067905576,
	1068571464, 1069197120, 1069782521, 1070327646, 1070832474, 1071296985,
	1071721163, 1072104991, 1072448455, 1072751542, 1073014240, 1073236540,
	1073418433, 1073559913, 1073660973, 1073721611, 1073741824,
};

static inline uint64_t audio_stream_div(uint64_t a, uint64_t b)
{
#ifdef __KERNEL__
	return div64_u64(a, b);
#else
	return a / b;
#endif
}

static inline uint64_t audio_stream_mod(uint64_t a, uint64_t b)
{
	return a - audio_stream_div(a, b) * b;
}

/* sin(angle) * 2^30, the angle in 2^-32 turns. */
static inline int32_t audio_stream_sine(uint32_t angle)
{
	uint32_t quadrant = angle >> 30;
	uint32_t within = angle & 0x3fffffffu;
	uint32_t index, frac;
	int64_t value;

	if (quadrant & 1)
		within = 0x40000000u - within;
	index = within >> 22;
	frac = within & 0x3fffffu;
	value = audio_stream_quarter_sine[index];
	if (index < 256)
		value += ((int64_t)(audio_stream_quarter_sine[index + 1] - value) * frac) >> 22;
	return (int32_t)(quadrant & 2 ? -value : value);
}

/* One turn of the tone's phase: the frame rate in milli-frames per second, at least 1000. */
static inline uint64_t audio_stream_turn(const struct audio_stream *s)
{
	uint64_t rate = s->rate < 0 ? 0 : (uint64_t)s->rate;

	return rate * 250 < 1000 ? 1000 : rate * 250;
}

/* The tone's sample of frame `frame`. */
static inline int16_t audio_stream_tone_sample(const struct audio_stream *s, long long frame)
{
	uint64_t turn = audio_stream_turn(s);
	uint64_t tone = s->tone_mhz < 0 ? 0 : (uint64_t)s->tone_mhz;
	uint64_t f = frame < 0 ? -(uint64_t)frame : (uint64_t)frame;
	uint64_t phase = audio_stream_mod(audio_stream_mod(f, turn) * audio_stream_mod(tone, turn),
					  turn);
	uint32_t angle = (uint32_t)audio_stream_div(phase << 32, turn);
	int64_t scaled = (int64_t)audio_stream_sine(angle) * AUDIO_STREAM_AMPLITUDE;
	int64_t half = 1LL << 29;
	int64_t sample = scaled >= 0 ? (scaled + half) >> 30 : -((-scaled + half) >> 30);

	return (int16_t)(frame < 0 ? -sample : sample);
}

static inline uint8_t audio_stream_byte(const struct audio_stream *s, long long offset)
{
	uint16_t bits;

	if (offset < 0)
		return 0;
	if (s->counter)
		return (uint8_t)((uint32_t)(offset / 4) >> (8 * (offset % 4)));
	bits = (uint16_t)audio_stream_tone_sample(s, offset / 4);
	return (uint8_t)(offset % 2 ? bits >> 8 : bits);
}

/*
 * A frequency in hertz with up to three decimals ("440", "440.5") as milli-hertz. Returns 0,
 * or -1 for anything else (signs, blanks, more decimals, above AUDIO_STREAM_TONE_MHZ_MAX).
 */
static inline int audio_stream_parse_mhz(const char *text, long long *mhz)
{
	long long value = 0;
	int digits = 0, decimals = -1;

	for (; *text; text++) {
		if (*text == '.' && decimals < 0 && digits > 0) {
			decimals = 0;
			continue;
		}
		if (*text < '0' || *text > '9' || decimals == 3)
			return -1;
		value = value * 10 + (*text - '0');
		if (value > AUDIO_STREAM_TONE_MHZ_MAX)
			return -1;
		digits++;
		if (decimals >= 0)
			decimals++;
	}
	if (digits == 0 || decimals == 0)
		return -1;
	for (decimals = decimals < 0 ? 0 : decimals; decimals < 3; decimals++)
		value *= 10;
	if (value > AUDIO_STREAM_TONE_MHZ_MAX)
		return -1;
	*mhz = value;
	return 0;
}

#endif
