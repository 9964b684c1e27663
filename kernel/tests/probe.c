// SPDX-License-Identifier: (GPL-2.0 OR MIT)
/*
 * What guest.sh asks of the kernel board that a shell cannot: exact error numbers, whole 64-bit
 * ioctl arguments, offsets, and two processes on one open file. Each command prints one line
 * and ends with 0 when the probe itself worked, whatever the module answered.
 *
 *   probe write PATH TEXT        writes TEXT (\ooo octal and \n escapes) in one write:
 *                                "0" or the error number
 *   probe setreadpos ARG         SET_READPOS with the whole unsigned long ARG (C notation):
 *                                "<result> <errno> <read position after>"
 *   probe size                   the size request: "<result> <errno>"
 *   probe offsets                pread at offset 4, lseek to 4: "<errno> <errno>"
 *   probe walk READS COUNT       reads of COUNT bytes on a small ring: "ok", or the first read
 *                                that did not stop at the ring's end or moved the read
 *                                position wrongly
 *   probe twice                  opens the audio node twice and reads 8 bytes from each: the
 *                                faults' call counts are the open file's on the kernel board
 *   probe killable BYTES         one process reads BYTES while another, on the same open file,
 *                                waits to ask for the read position and is killed: "killed"
 *                                when it ended within a second, "stuck" when not
 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bringup/qvaudio.h"

static int open_audio(void)
{
	int fd = open(QVAUDIO_NODE, O_RDWR);

	if (fd < 0) {
		printf("open %s: %s\n", QVAUDIO_NODE, strerror(errno));
		exit(1);
	}
	return fd;
}

/* TEXT with its escapes decoded into out; the number of bytes. */
static size_t unescape(const char *text, char *out)
{
	size_t n = 0;

	while (*text) {
		if (text[0] == '\\' && text[1] == 'n') {
			out[n++] = '\n';
			text += 2;
		} else if (text[0] == '\\' && text[1] >= '0' && text[1] <= '7') {
			int v = 0, i;

			for (i = 1; i <= 3 && text[i] >= '0' && text[i] <= '7'; i++)
				v = v * 8 + (text[i] - '0');
			out[n++] = (char)v;
			text += i;
		} else {
			out[n++] = *text++;
		}
	}
	return n;
}

static int probe_write(const char *path, const char *text)
{
	char *bytes = malloc(strlen(text) + 1);
	size_t n = unescape(text, bytes);
	int fd = open(path, O_WRONLY);

	if (fd < 0) {
		printf("open %s: %s\n", path, strerror(errno));
		return 1;
	}
	printf("%d\n", write(fd, bytes, n) == (ssize_t)n ? 0 : errno);
	close(fd);
	free(bytes);
	return 0;
}

static int probe_setreadpos(const char *arg)
{
	int fd = open_audio();
	unsigned long value = strtoul(arg, NULL, 0);
	int rc, err;

	ioctl(fd, QVAUDIO_CMD_OUT_SETUP, 1UL);
	ioctl(fd, QVAUDIO_CMD_OUT_SET_READPOS, 3UL);
	errno = 0;
	rc = ioctl(fd, QVAUDIO_CMD_OUT_SET_READPOS, value);
	err = errno;
	printf("%d %d %d\n", rc, err, ioctl(fd, QVAUDIO_CMD_OUT_READPOS, 0UL));
	return 0;
}

static int probe_size(void)
{
	int fd = open_audio();
	int rc;

	errno = 0;
	rc = ioctl(fd, QVAUDIO_CMD_OUT_SIZE, 0UL);
	printf("%d %d\n", rc, errno);
	return 0;
}

static int probe_offsets(void)
{
	int fd = open_audio();
	char buf[4];
	int pread_err = 0, lseek_err = 0;

	if (pread(fd, buf, sizeof(buf), 4) < 0)
		pread_err = errno;
	if (lseek(fd, 4, SEEK_SET) < 0)
		lseek_err = errno;
	printf("%d %d\n", pread_err, lseek_err);
	return 0;
}

static int probe_walk(int reads, int count)
{
	int fd = open_audio();
	int ring = ioctl(fd, QVAUDIO_CMD_OUT_SIZE, 0UL);
	char *buf = malloc(count);
	int i;

	ioctl(fd, QVAUDIO_CMD_OUT_SETUP, 1UL);
	for (i = 1; i <= reads; i++) {
		int pos = ioctl(fd, QVAUDIO_CMD_OUT_READPOS, 0UL);
		int want = count < ring - pos ? count : ring - pos;
		ssize_t n = read(fd, buf, count);
		int after = ioctl(fd, QVAUDIO_CMD_OUT_READPOS, 0UL);

		if (n != want || after != (pos + n) % ring) {
			printf("read %d at %d of a ring of %d: %zd bytes (want %d), ", i, pos, ring,
			       n, want);
			printf("position %d after (want %d)\n", after, (int)((pos + n) % ring));
			return 0;
		}
	}
	printf("ok\n");
	return 0;
}

static int probe_twice(void)
{
	int first = open_audio(), second = open_audio();
	char buf[8];

	read(first, buf, sizeof(buf));
	read(second, buf, sizeof(buf));
	close(second);
	close(first);
	return 0;
}

static double now(void)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return t.tv_sec + t.tv_nsec / 1e9;
}

static int probe_killable(size_t bytes)
{
	int fd = open_audio();
	pid_t reader, waiter;
	double start;
	int status;

	reader = fork();
	if (reader == 0) {
		char *buf = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
				 -1, 0);

		read(fd, buf, bytes);
		_exit(0);
	}
	usleep(300000);
	waiter = fork();
	if (waiter == 0) {
		ioctl(fd, QVAUDIO_CMD_OUT_READPOS, 0UL);
		_exit(0);
	}
	usleep(300000);
	kill(waiter, SIGKILL);
	start = now();
	while (waitpid(waiter, &status, WNOHANG) == 0 && now() - start < 1.0)
		usleep(10000);
	printf("%s\n", now() - start < 1.0 ? "killed" : "stuck");
	kill(reader, SIGKILL);
	waitpid(reader, &status, 0);
	waitpid(waiter, &status, 0);
	return 0;
}

int main(int argc, char **argv)
{
	const char *cmd = argc > 1 ? argv[1] : "";

	if (!strcmp(cmd, "write") && argc == 4)
		return probe_write(argv[2], argv[3]);
	if (!strcmp(cmd, "setreadpos") && argc == 3)
		return probe_setreadpos(argv[2]);
	if (!strcmp(cmd, "size") && argc == 2)
		return probe_size();
	if (!strcmp(cmd, "offsets") && argc == 2)
		return probe_offsets();
	if (!strcmp(cmd, "walk") && argc == 4)
		return probe_walk(atoi(argv[2]), atoi(argv[3]));
	if (!strcmp(cmd, "twice") && argc == 2)
		return probe_twice();
	if (!strcmp(cmd, "killable") && argc == 3)
		return probe_killable(strtoul(argv[2], NULL, 0));
	fprintf(stderr, "usage: probe write PATH TEXT | setreadpos ARG | size | offsets |\n"
		"             walk READS COUNT | twice | killable BYTES\n");
	return 2;
}
