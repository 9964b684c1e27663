// SPDX-License-Identifier: (GPL-2.0 OR MIT)
/*
 * The audio output driver behind /dev/qvaudio_out, the same model as the preloaded board's.
 *
 * The driver plays out an endless stream whose byte at stream offset o is a fixed function of o
 * (include/bringup/audio_stream_core.h). The hardware has produced S = rate * (time since the clock
 * started) bytes, rounded down to the alignment; the clock starts at open and again at the
 * set-up request. The ring holds the last `ring` bytes of the stream: the hardware position is
 * S mod ring, the read position R mod ring, where R is the stream offset of the next byte a read
 * returns. Nothing is stored: the ring's bytes are computed when read. Each open file has its
 * own clock, read position and fault call counts.
 *
 * Overrun: when the hardware is a whole ring or more ahead of the reader, the unread bytes have
 * been overwritten; the driver then drops them and moves R up to S (the ring reads as empty). A
 * read past S returns what the ring holds there, which is the previous lap of the stream.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/atomic.h>
#include <linux/debugfs.h>
#include <linux/fs.h>
#include <linux/ktime.h>
#include <linux/math64.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/sched/signal.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "sim.h"
#include "bringup/audio_stream_core.h"
#include "bringup/qvaudio.h"

#define FILL_CHUNK 256

struct audio_file {
	struct mutex lock;	/* guards the file's clock, position and counts */
	u64 t0;			/* clock start, ns */
	long long rd;		/* stream offset of the next byte to read */
	long long hwpos_calls;
	long long readpos_calls;
	long long read_calls;
};

static struct audio_stream stream;
static atomic64_t opens;
static bool registered;

static long long ring_pos(long long offset)
{
	long long ring = sim_config.audio_ring;

	return ((offset % ring) + ring) % ring;
}

/* Bytes the hardware has produced since the clock of `a` started. */
static long long produced(const struct audio_file *a)
{
	u64 rate = sim_config.audio_rate;
	u32 rem;
	u64 secs = div_u64_rem(ktime_get_ns() - a->t0, NSEC_PER_SEC, &rem);
	long long bytes = rate * secs + div_u64(rate * rem, NSEC_PER_SEC);

	return bytes - bytes % sim_config.audio_align;
}

/* Drops the unread bytes the hardware has already overwritten. */
static void check_overrun(struct audio_file *a, long long hw)
{
	if (hw - a->rd >= sim_config.audio_ring) {
		pr_info_ratelimited("%s overrun %lld\n", QVAUDIO_NAME, hw - a->rd);
		a->rd = hw;
	}
}

static bool fault(const struct sim_calls *calls, long long call)
{
	bool in;

	mutex_lock(&sim_faults_lock);
	in = sim_calls_in(calls, call);
	mutex_unlock(&sim_faults_lock);
	return in;
}

static int audio_open(struct inode *inode, struct file *file)
{
	struct audio_file *a;
	long long absent;

	mutex_lock(&sim_faults_lock);
	absent = sim_audio_faults.absent_opens;
	mutex_unlock(&sim_faults_lock);
	if (absent > 0 && atomic64_inc_return(&opens) <= absent)
		return -ENOENT;
	a = kzalloc(sizeof(*a), GFP_KERNEL);
	if (!a)
		return -ENOMEM;
	mutex_init(&a->lock);
	a->t0 = ktime_get_ns();
	file->private_data = a;
	/* A stream: no offsets, so pread and lseek fail with ESPIPE. */
	return stream_open(inode, file);
}

static int audio_release(struct inode *inode, struct file *file)
{
	kfree(file->private_data);
	return 0;
}

static long size_answer(void)
{
	long size = sim_config.audio_ring;

	mutex_lock(&sim_faults_lock);
	if (sim_audio_faults.size_set)
		size = sim_audio_faults.size;
	mutex_unlock(&sim_faults_lock);
	return size;
}

static long audio_request(struct audio_file *a, unsigned int cmd, unsigned long arg)
{
	long long ring = sim_config.audio_ring;
	long long hw = produced(a);
	long long pos;

	check_overrun(a, hw);
	switch (cmd) {
	case QVAUDIO_CMD_OUT_SIZE:
		return size_answer();
	case QVAUDIO_CMD_OUT_HWPOS:
		if (fault(&sim_audio_faults.hwpos_fail, ++a->hwpos_calls))
			return -EIO;
		if (fault(&sim_audio_faults.hwpos_range, a->hwpos_calls))
			return ring;
		return ring_pos(hw);
	case QVAUDIO_CMD_OUT_READPOS:
		if (fault(&sim_audio_faults.readpos_fail, ++a->readpos_calls))
			return -EIO;
		/* A negative answer would read as an error: outside the ring is the ring size. */
		if (fault(&sim_audio_faults.readpos_range, a->readpos_calls))
			return ring;
		return ring_pos(a->rd);
	case QVAUDIO_CMD_OUT_SET_READPOS:
		/* The whole argument: a position in the ring, or refused and nothing moved. */
		if (arg >= ring)
			return -EINVAL;
		pos = arg;
		/* The latest stream offset at or before the hardware that sits at pos. */
		a->rd = hw - (ring_pos(hw) - pos + ring) % ring;
		return 0;
	case QVAUDIO_CMD_OUT_SETUP:
		a->t0 = ktime_get_ns();
		a->rd = 0;
		return 0;
	default:
		return -ENOTTY;
	}
}

static long audio_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	struct audio_file *a = file->private_data;
	long ret;

	/* A reader may hold the lock for a long read: whoever waits for it can still be killed. */
	if (mutex_lock_killable(&a->lock))
		return -EINTR;
	ret = audio_request(a, cmd, arg);
	mutex_unlock(&a->lock);
	return ret;
}

/*
 * Copies the ring's bytes for the stream offsets [from, from + count), as they are when the
 * hardware has produced hw bytes: offsets not yet produced still hold the previous lap.
 */
static int fill(char __user *buf, long long from, size_t count, long long hw)
{
	u8 chunk[FILL_CHUNK];
	size_t done = 0;

	while (done < count) {
		size_t n = min_t(size_t, count - done, sizeof(chunk));
		size_t i;

		for (i = 0; i < n; i++) {
			long long o = from + done + i;

			if (o >= hw)
				o -= sim_config.audio_ring;
			chunk[i] = audio_stream_byte(&stream, o);
		}
		if (copy_to_user(buf + done, chunk, n))
			return -EFAULT;
		done += n;
		if (fatal_signal_pending(current))
			return -EINTR;
		cond_resched();
	}
	return 0;
}

static ssize_t audio_read(struct file *file, char __user *buf, size_t count, loff_t *ppos)
{
	struct audio_file *a = file->private_data;
	long long hw, n;
	ssize_t ret;

	if (mutex_lock_killable(&a->lock))
		return -EINTR;
	a->read_calls++;
	hw = produced(a);
	check_overrun(a, hw);
	if (fault(&sim_audio_faults.read_error, a->read_calls)) {
		ret = -EIO;
		goto out;
	}
	/* A read stops at the end of the ring. */
	n = min_t(long long, count, sim_config.audio_ring - ring_pos(a->rd));
	/* A short read returns half, cut to whole frames (two 16-bit channels). */
	if (fault(&sim_audio_faults.short_read, a->read_calls))
		n = (n / 2) & ~3LL;
	ret = fill(buf, a->rd, n, hw);
	if (ret == 0) {
		a->rd += n;
		ret = n;
	}
out:
	mutex_unlock(&a->lock);
	return ret;
}

static const struct file_operations audio_fops = {
	.owner = THIS_MODULE,
	.open = audio_open,
	.release = audio_release,
	.read = audio_read,
	.unlocked_ioctl = audio_ioctl,
	.compat_ioctl = audio_ioctl,
};

static struct miscdevice audio_misc = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = QVAUDIO_NAME,
	.fops = &audio_fops,
	.mode = 0600,
};

/* debugfs: the faults, changed while the module runs, for the requests that follow. */

static int show_calls(const struct sim_text_file *f, char *buf, size_t size)
{
	const struct sim_calls *calls = f->data;
	int len;

	mutex_lock(&sim_faults_lock);
	len = scnprintf(buf, size, "%s\n", calls->text);
	mutex_unlock(&sim_faults_lock);
	return len;
}

static int set_calls(const struct sim_text_file *f, const char *text)
{
	struct sim_calls calls;

	if (sim_calls_parse(text, &calls))
		return -EINVAL;
	mutex_lock(&sim_faults_lock);
	*(struct sim_calls *)f->data = calls;
	mutex_unlock(&sim_faults_lock);
	return 0;
}

static int show_size(const struct sim_text_file *f, char *buf, size_t size)
{
	int len;

	mutex_lock(&sim_faults_lock);
	len = scnprintf(buf, size, "%s\n", sim_audio_faults.size_text);
	mutex_unlock(&sim_faults_lock);
	return len;
}

static int set_size(const struct sim_text_file *f, const char *text)
{
	int err;

	mutex_lock(&sim_faults_lock);
	err = sim_parse_size(text, &sim_audio_faults);
	mutex_unlock(&sim_faults_lock);
	return err;
}

static int absent_get(void *data, u64 *val)
{
	mutex_lock(&sim_faults_lock);
	*val = sim_audio_faults.absent_opens;
	mutex_unlock(&sim_faults_lock);
	return 0;
}

/* A new count of opens that fail, counted from the next open. */
static int absent_set(void *data, u64 val)
{
	if (val > BOARD_INT_MAX)
		return -EINVAL;
	mutex_lock(&sim_faults_lock);
	sim_audio_faults.absent_opens = val;
	atomic64_set(&opens, 0);
	mutex_unlock(&sim_faults_lock);
	return 0;
}

SIM_ATTRIBUTE(absent_fops, absent_get, absent_set);

#define CALLS_FILE(name) \
	{ "audio_fault_" #name, 0644, show_calls, set_calls, &sim_audio_faults.name }

static const struct sim_text_file fault_files[] = {
	{ "audio_fault_size", 0644, show_size, set_size, NULL },
	CALLS_FILE(hwpos_fail),
	CALLS_FILE(readpos_fail),
	CALLS_FILE(hwpos_range),
	CALLS_FILE(readpos_range),
	CALLS_FILE(short_read),
	CALLS_FILE(read_error),
};

int sim_audio_init(struct dentry *dir)
{
	int i, err;

	stream.rate = sim_config.audio_rate;
	stream.counter = sim_config.audio_counter;
	stream.tone_mhz = sim_config.audio_tone_mhz;
	for (i = 0; i < ARRAY_SIZE(fault_files); i++)
		sim_debugfs_add(dir, &fault_files[i]);
	debugfs_create_file_unsafe("audio_fault_absent_opens", 0644, dir, NULL, &absent_fops);
	if (!sim_config.audio_present)
		return 0;
	err = misc_register(&audio_misc);
	registered = err == 0;
	return err;
}

void sim_audio_exit(void)
{
	if (registered)
		misc_deregister(&audio_misc);
	registered = false;
}
