// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// libquorvin's sysfs path on a made-up PWM class folder of plain files.
#include "run_tool.h"

#include <quorvin.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A made-up chip's export file cannot refuse a write by itself. Where a case
// asks for it, the kernel's refusal is played here: the library's write on
// that file fails with err, after the side effect a concurrent exporter
// would have had.
struct export_refusal {
	ino_t ino;
	int err; // 0: writes pass
	std::function<void()> meanwhile;
};
export_refusal refusal;

// A driver's refusal of a channel attribute: a value written to the file of
// inode ino outside lo..hi fails with err, and the file keeps what it had;
// or, cut_short, the file takes it and the write answers one byte short, as
// the kernel passes on a driver's store that owns to less than it was given.
struct value_refusal {
	ino_t ino;
	uint64_t lo, hi;
	int err; // 0: writes pass
	bool cut_short;
};
value_refusal attr_refusal;

bool refused_value(int fd, const void *buf, size_t n)
{
	struct stat st;
	if (attr_refusal.err == 0 || fstat(fd, &st) != 0 || st.st_ino != attr_refusal.ino)
		return false;
	const uint64_t v = std::stoull(std::string(static_cast<const char *>(buf), n));
	if (v >= attr_refusal.lo && v <= attr_refusal.hi)
		return false;
	errno = attr_refusal.err;
	return true;
}

} // namespace

// Where off_t is wider than long (32-bit targets built with 64-bit file
// offsets), the headers make this pwrite64, and the next one is that too.
extern "C" ssize_t pwrite(int fd, const void *buf, size_t n, off_t offset)
{
	static auto *real = reinterpret_cast<ssize_t (*)(int, const void *, size_t, off_t)>(
		dlsym(RTLD_NEXT, sizeof(off_t) > sizeof(long) ? "pwrite64" : "pwrite"));
	if (!refused_value(fd, buf, n))
		return real(fd, buf, n, offset);
	if (!attr_refusal.cut_short)
		return -1;
	const ssize_t written = real(fd, buf, n, offset);
	return written > 0 ? written - 1 : written;
}

extern "C" ssize_t write(int fd, const void *buf, size_t n)
{
	static auto *real = reinterpret_cast<ssize_t (*)(int, const void *, size_t)>(
		dlsym(RTLD_NEXT, "write"));
	struct stat st;
	if (refusal.err != 0 && fstat(fd, &st) == 0 && st.st_ino == refusal.ino) {
		if (refusal.meanwhile)
			refusal.meanwhile();
		errno = refusal.err;
		return -1;
	}
	return real(fd, buf, n);
}

namespace {

struct channel_state {
	uint64_t period;
	uint64_t duty;
	int enable;
	bool inversed;
};

bool operator==(const channel_state &a, const channel_state &b)
{
	return a.period == b.period && a.duty == b.duty && a.enable == b.enable && a.inversed == b.inversed;
}

void PrintTo(const channel_state &s, std::ostream *os)
{
	*os << "{period " << s.period << ", duty " << s.duty << ", enable " << s.enable << ", "
	    << (s.inversed ? "inversed" : "normal") << "}";
}

void write_file(const std::string &path, const std::string &text)
{
	std::ofstream(path, std::ios::trunc) << text;
}

// The value of an attribute is its first line, as the library reads it.
std::string first_line(const std::string &path)
{
	const std::string text = read_file(path);
	return text.substr(0, text.find('\n'));
}

class SysfsTest : public testing::Test {
protected:
	void SetUp() override
	{
		root_ = make_temp_dir();
		chip_ = root_ + "/pwmchip0";
		fs::create_directory(chip_);
		write_file(chip_ + "/npwm", "4\n");
		write_file(chip_ + "/export", "");
		write_file(chip_ + "/unexport", "");
		setenv("QUORVIN_SYSFS_DIR", root_.c_str(), 1);
		// No debugfs unless a case lays one out.
		setenv("QUORVIN_DEBUGFS_PWM", (root_ + "/debugfs-pwm").c_str(), 1);
	}

	void TearDown() override
	{
		unsetenv("QUORVIN_SYSFS_DIR");
		unsetenv("QUORVIN_DEBUGFS_PWM");
		remove_tree(root_);
	}

	// pwmM as the kernel names a channel's folder, or pwm-N:M as some
	// vendor kernels do.
	std::string channel_dir(unsigned int channel) const
	{
		return chip_ + (vendor_names_ ? "/pwm-0:" : "/pwm") + std::to_string(channel);
	}

	void lay_out_channel(unsigned int channel, const channel_state &s) const
	{
		const std::string dir = channel_dir(channel);
		fs::create_directory(dir);
		write_file(dir + "/period", std::to_string(s.period) + "\n");
		write_file(dir + "/duty_cycle", std::to_string(s.duty) + "\n");
		write_file(dir + "/enable", std::to_string(s.enable) + "\n");
		write_file(dir + "/polarity", s.inversed ? "inversed\n" : "normal\n");
	}

	channel_state read_channel(unsigned int channel) const
	{
		const std::string dir = channel_dir(channel);
		return { std::stoull(first_line(dir + "/period")),
			 std::stoull(first_line(dir + "/duty_cycle")), std::stoi(first_line(dir + "/enable")),
			 first_line(dir + "/polarity") == "inversed" };
	}

	std::string root_;
	std::string chip_;
	bool vendor_names_ = false;
};

// The attribute files written below a folder, in the order of the writes.
class write_recorder {
public:
	explicit write_recorder(const std::string &dir) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
	{
		inotify_add_watch(fd_, dir.c_str(), IN_MODIFY);
	}
	~write_recorder()
	{
		close(fd_);
	}
	write_recorder(const write_recorder &) = delete;
	write_recorder &operator=(const write_recorder &) = delete;

	std::vector<std::string> writes() const
	{
		std::vector<std::string> names;
		alignas(struct inotify_event) char buf[4096];
		ssize_t n;
		while ((n = read(fd_, buf, sizeof(buf))) > 0) {
			for (char *p = buf; p < buf + n;) {
				const auto *ev = reinterpret_cast<const struct inotify_event *>(p);
				names.emplace_back(ev->name);
				p += sizeof(struct inotify_event) + ev->len;
			}
		}
		return names;
	}

private:
	int fd_;
};

TEST_F(SysfsTest, OpenFailures)
{
	struct open_case {
		const char *name;
		const char *npwm; // nullptr: no npwm file
		size_t len; // of npwm's bytes, which may hold a NUL
		int err;
	};
	const open_case cases[] = {
		{ "npwm missing", nullptr, 0, ENOENT },
		{ "npwm not a number", "many\n", 5, EINVAL },
		{ "npwm empty", "", 0, EINVAL },
		{ "npwm with a NUL after its digits", "202\0\0\n", 6, EINVAL },
		{ "npwm longer than a line is read", "0000000000000000000000000000000004\n", 35, EOVERFLOW },
		// A count is an unsigned int in the kernel, and never 0: refused,
		// not clamped to one that would be walked channel by channel.
		{ "npwm 0", "0\n", 2, ERANGE },
		{ "npwm 2^32", "4294967296\n", 11, ERANGE },
		{ "npwm 2^64 - 1", "18446744073709551615\n", 21, ERANGE },
		{ "npwm 2^64", "18446744073709551616\n", 21, ERANGE },
		{ "npwm of 31 digits", "1000000000000000000000000000000\n", 32, ERANGE },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		fs::remove(chip_ + "/npwm");
		if (c.npwm != nullptr)
			write_file(chip_ + "/npwm", std::string(c.npwm, c.len));
		errno = 0;
		EXPECT_EQ(pwm_chip_open_by_number(0), nullptr);
		EXPECT_EQ(errno, c.err);
	}

	write_file(chip_ + "/npwm", "4294967295\n");
	pwm_chip *largest = pwm_chip_open_by_number(0);
	ASSERT_NE(largest, nullptr) << "the largest count an unsigned int holds: " << strerror(errno);
	EXPECT_EQ(pwm_chip_get_npwm(largest), UINT32_MAX);
	pwm_chip_close(largest);

	errno = 0;
	EXPECT_EQ(pwm_chip_open_by_number(1), nullptr);
	EXPECT_EQ(errno, ENOENT) << "a chip that does not exist";

	write_file(root_ + "/pwmchip2", "");
	errno = 0;
	EXPECT_EQ(pwm_chip_open_by_number(2), nullptr);
	EXPECT_EQ(errno, ENOTDIR);
}

// Plays whoever put a FIFO where the kernel keeps a file: after a second it
// opens the other end, if the library waits there, and feeds it, as a
// writer, text that would make the call succeed, or, as a reader, takes
// what it writes. A library that waited on the FIFO returns late and with
// that, instead of hanging the test; one that refused it at once meets no
// one.
class fifo_feeder {
public:
	fifo_feeder(const std::string &path, std::string text, bool feed_as_writer)
	    : thread_([path, text = std::move(text), feed_as_writer] {
		      std::this_thread::sleep_for(std::chrono::seconds(1));
		      // A reader that left gives EPIPE here, not SIGPIPE.
		      sigset_t pipe_signal;
		      sigemptyset(&pipe_signal);
		      sigaddset(&pipe_signal, SIGPIPE);
		      pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
		      // The writing end opens only where a reader waits (else
		      // ENXIO); the reading end always, which lets a waiting
		      // writer through.
		      const int fd = open(path.c_str(),
					  (feed_as_writer ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
		      if (fd < 0)
			      return;
		      if (feed_as_writer) {
			      const ssize_t n = write(fd, text.data(), text.size());
			      static_cast<void>(n);
		      } else {
			      std::this_thread::sleep_for(std::chrono::milliseconds(50));
			      char sink[64];
			      while (read(fd, sink, sizeof(sink)) > 0) {
			      }
		      }
		      close(fd);
	      })
	{}
	~fifo_feeder()
	{
		thread_.join();
	}
	fifo_feeder(const fifo_feeder &) = delete;
	fifo_feeder &operator=(const fifo_feeder &) = delete;

private:
	std::thread thread_;
};

// The kernel makes each of these a regular file. Anything else in one's
// place is refused at once, without opening a FIFO's end and waiting there:
// EISDIR for a folder, EINVAL for the rest.
TEST_F(SysfsTest, FilesThatAreNotRegularAreRefusedWithoutWaiting)
{
	enum file_kind { FIFO, FOLDER };
	enum what_call { OPEN, TAKE, DESCRIBE, OPEN_BY_NAME };
	struct odd_file_case {
		const char *name;
		std::string path; // below the class folder
		file_kind kind;
		std::string feed; // what a waiting library would be fed
		what_call call;
		int channel;
		std::string outcome;
	};
	const std::string channel_listing =
		"0: platform/4ff00000.pwm, npwm: 4\n"
		" pwm-2   (led-1               ): requested\n"
		"  actual configuration:     enabled, 0/200000 ns, normal polarity\n";
	const std::string refused = "refused: ";
	const odd_file_case cases[] = {
		{ "npwm a FIFO", "pwmchip0/npwm", FIFO, "4\n", OPEN, 0, refused + strerror(EINVAL) },
		{ "npwm a folder", "pwmchip0/npwm", FOLDER, "", OPEN, 0, refused + strerror(EISDIR) },
		{ "a channel's period a FIFO, described", "pwmchip0/pwm1/period", FIFO, "100\n", DESCRIBE, 1,
		  "sysfs, waveform unreadable" },
		{ "a channel's period a FIFO, taken", "pwmchip0/pwm1/period", FIFO, "100\n", TAKE, 1,
		  refused + strerror(EINVAL) },
		{ "a channel's duty a folder, taken", "pwmchip0/pwm1/duty_cycle", FOLDER, "", TAKE, 1,
		  refused + strerror(EISDIR) },
		{ "export a FIFO", "pwmchip0/export", FIFO, "", TAKE, 2, refused + strerror(EINVAL) },
		{ "the debugfs listing a FIFO", "debugfs-pwm", FIFO, channel_listing, DESCRIBE, 2,
		  "unknown, waveform unreadable" },
		{ "the parent's uevent a FIFO", "devices/4ff00000.pwm/uevent", FIFO, "OF_ALIAS_0=pwm0\n",
		  OPEN_BY_NAME, 0, refused + strerror(ENOENT) },
	};
	const std::string parent = root_ + "/devices/4ff00000.pwm";
	fs::create_directories(parent);
	fs::create_directory_symlink(parent, chip_ + "/device");
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		fs::remove_all(channel_dir(1));
		lay_out_channel(1, { 100, 70, 1, false });
		const std::string path = root_ + "/" + c.path;
		fs::remove_all(path);
		if (c.kind == FOLDER)
			fs::create_directory(path);
		else
			ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << strerror(errno);

		std::string outcome;
		std::chrono::steady_clock::duration took{};
		{
			const bool reads = c.path.find("export") == std::string::npos;
			const fifo_feeder feeder(path, c.feed, reads);
			const auto start = std::chrono::steady_clock::now();
			pwm_chip *chip = c.call == OPEN_BY_NAME ? pwm_chip_open_by_name("pwm0")
								: pwm_chip_open_by_number(0);
			if (chip == nullptr) {
				outcome = refused + strerror(errno);
			} else if (c.call == OPEN || c.call == OPEN_BY_NAME) {
				outcome = "opened";
			} else if (c.call == TAKE) {
				const pwm *pwm = pwm_chip_get_pwm(chip, c.channel);
				outcome = pwm == nullptr ? refused + strerror(errno) : "taken";
			} else if (pwm_info *info = pwm_chip_get_pwm_info(chip, c.channel); info != nullptr) {
				pwm_waveform wf{};
				const int holder = pwm_info_get_holder(info);
				outcome = holder == PWM_HOLDER_SYSFS   ? "sysfs"
					: holder == PWM_HOLDER_UNKNOWN ? "unknown"
								       : "holder " + std::to_string(holder);
				outcome += pwm_info_get_waveform(info, &wf) == 0 ? ", waveform read"
										 : ", waveform unreadable";
				pwm_info_free(info);
			}
			pwm_chip_close(chip);
			took = std::chrono::steady_clock::now() - start;
		}
		EXPECT_EQ(outcome, c.outcome);
		EXPECT_LT(took, std::chrono::milliseconds(800)) << "waited on the file";
		fs::remove_all(path);
		if (c.path.ends_with("npwm"))
			write_file(path, "4\n");
		if (c.path.ends_with("export"))
			write_file(path, "");
	}
}

// An empty QUORVIN_SYSFS_DIR is refused, not taken for unset: a script whose
// variable came out empty must not reach the real chips.
TEST_F(SysfsTest, EmptyClassFolderVariableIsRefused)
{
	struct empty_case {
		const char *name;
		std::function<bool()> call; // true: succeeded
	};
	const empty_case cases[] = {
		{ "open by number", [] { return pwm_chip_open_by_number(0) != nullptr; } },
		{ "open by chip name", [] { return pwm_chip_open_by_name("pwmchip0") != nullptr; } },
		{ "open by parent name", [] { return pwm_chip_open_by_name("4ff00000.pwm") != nullptr; } },
		{ "list", [] { return pwm_chip_next_number(-1) >= 0; } },
	};
	setenv("QUORVIN_SYSFS_DIR", "", 1);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		errno = 0;
		EXPECT_FALSE(c.call());
		EXPECT_EQ(errno, EINVAL) << strerror(errno);
	}
}

// A chip folder's path of PATH_MAX - 1 bytes is the longest the kernel
// takes; one more is refused before anything is opened.
TEST_F(SysfsTest, ChipPathUpToPathMax)
{
	// Folders of 200 bytes down to a class folder whose pwmchip0 makes
	// PATH_MAX - 1.
	const std::string tail = "/pwmchip0";
	std::string dir = root_;
	while (dir.size() + tail.size() < PATH_MAX - 1) {
		const size_t room = PATH_MAX - 1 - tail.size() - dir.size() - 1;
		dir.push_back('/');
		dir.append(std::min<size_t>(room, 200), 'd');
	}
	ASSERT_EQ(dir.size() + tail.size(), PATH_MAX - 1U);
	fs::create_directories(dir + tail);
	const int chip_fd = open((dir + tail).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	ASSERT_GE(chip_fd, 0) << strerror(errno);
	const int npwm_fd = openat(chip_fd, "npwm", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
	ASSERT_GE(npwm_fd, 0) << strerror(errno);
	ASSERT_EQ(write(npwm_fd, "3\n", 2), 2);
	close(npwm_fd);
	close(chip_fd);

	struct length_case {
		std::string class_dir;
		int err; // 0: opens
	};
	const length_case cases[] = {
		{ dir, 0 }, { dir + "d", ENAMETOOLONG }, // PATH_MAX: no room for the end of the string
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.class_dir.size() + tail.size());
		setenv("QUORVIN_SYSFS_DIR", c.class_dir.c_str(), 1);
		errno = 0;
		pwm_chip *chip = pwm_chip_open_by_number(0);
		EXPECT_EQ(chip != nullptr, c.err == 0) << strerror(errno);
		if (chip == nullptr) {
			EXPECT_EQ(errno, c.err);
			continue;
		}
		EXPECT_EQ(pwm_chip_get_npwm(chip), 3U);
		pwm_chip_close(chip);
	}
}

TEST_F(SysfsTest, ChannelBeyondCountIsRefusedWithoutExport)
{
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	for (unsigned int channel : { 4U, 5U, UINT32_MAX }) {
		errno = 0;
		EXPECT_EQ(pwm_chip_get_pwm(chip, channel), nullptr);
		EXPECT_EQ(errno, EINVAL);
	}
	pwm_chip_close(chip);
	EXPECT_EQ(read_file(chip_ + "/export"), "");
}

TEST_F(SysfsTest, ChannelExportedLateIsWaitedFor)
{
	for (const bool vendor_names : { false, true }) {
		SCOPED_TRACE(vendor_names ? "folder pwm-0:3" : "folder pwm3");
		vendor_names_ = vendor_names;
		write_file(chip_ + "/export", "");
		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);

		// Plays the kernel: once the export is written, the channel's
		// folder appears a little later.
		std::thread kernel([this] {
			for (int i = 0; i < 500 && read_file(chip_ + "/export").empty(); ++i)
				std::this_thread::sleep_for(std::chrono::milliseconds(2));
			std::this_thread::sleep_for(std::chrono::milliseconds(100));
			lay_out_channel(3, { 1000000000, 1000000000, 0, false });
		});
		pwm *pwm = pwm_chip_get_pwm(chip, 3);
		kernel.join();
		ASSERT_NE(pwm, nullptr) << strerror(errno);
		EXPECT_EQ(read_file(chip_ + "/export"), "3\n");

		EXPECT_EQ(pwm_chip_get_pwm(chip, 3), pwm) << "one handle per channel";

		pwm_waveform wf{ 50000, 20000, 0 };
		EXPECT_EQ(pwm_set_waveform(pwm, &wf), 0);
		pwm_chip_close(chip);
		EXPECT_EQ(read_channel(3), (channel_state{ 50000, 20000, 1, false }));
		EXPECT_EQ(read_file(chip_ + "/unexport"), "") << "closing leaves the channel exported";

		// Found where it is, the second time: no export.
		write_file(chip_ + "/export", "");
		const tool_run run = run_tool({ "-p", "3", "-P", "20", "-S", "7" },
					      { "QUORVIN_SYSFS_DIR=" + root_ });
		EXPECT_EQ(run.status, 0) << run.err;
		EXPECT_EQ(read_channel(3), (channel_state{ 20, 14, 1, false }));
		EXPECT_EQ(read_file(chip_ + "/export"), "");
		fs::remove_all(channel_dir(3));
	}
}

// A chip found by the names of its parent, which do not move between boots.
// pwmchip0's parent is 4ff00000.pwm, a node with two aliases; pwmchip2 and
// pwmchip3 share 4ff01000.pwm, whose alias is made to be pwmchip0's parent
// name, and whose node's compatibles fill a line longer than any buffer of a
// few hundred bytes, with text in it that looks like a variable; pwmchip5's
// parent shows more than a page, which the kernel never does.
TEST_F(SysfsTest, ChipsAreFoundByName)
{
	const auto parent = [this](const std::string &name, const std::string &uevent, const char *driver) {
		std::string dir = root_ + "/devices/" + name;
		fs::create_directories(dir);
		write_file(dir + "/uevent", uevent);
		if (driver != nullptr) {
			fs::create_directories(root_ + "/drivers/" + driver);
			fs::create_directory_symlink(root_ + "/drivers/" + driver, dir + "/driver");
		}
		return dir;
	};
	// Where a name is one chip's node path and another's alias, the node path
	// wins; the kernel takes alias names from properties, which hold no
	// slash, so only the order is seen here.
	const std::string p0 = parent(
		"4ff00000.pwm",
		"DRIVER=pwm-mediatek\nOF_NAME=pwm\nOF_FULLNAME=/pwm@4ff00000\nOF_ALIAS_0=pwm0\n"
		"OF_ALIAS_1=backlight-pwm\nOF_ALIAS_2=/pwm@4ff01000\n",
		"pwm-mediatek");
	const std::string compatibles = "OF_COMPATIBLE_0=" + std::string(495, 'c') + "OF_ALIAS_0=pwm-ghost\n";
	const std::string p1 = parent(
		"4ff01000.pwm", "OF_FULLNAME=/pwm@4ff01000\n" + compatibles + "OF_ALIAS_0=4ff00000.pwm\n",
		nullptr);
	const std::string p5 = parent(
		"4ff05000.pwm", "OF_COMPATIBLE_0=" + std::string(4096, 'c') + "\nOF_ALIAS_0=pwm5\n", nullptr);
	fs::create_directory_symlink(p0, chip_ + "/device");
	fs::create_directory(root_ + "/pwmchip5");
	write_file(root_ + "/pwmchip5/npwm", "1\n");
	fs::create_directory_symlink(p5, root_ + "/pwmchip5/device");
	fs::create_directory(root_ + "/devices/pwmchip0"); // a chip's name, not the class folder's
	for (const char *n : { "pwmchip3", "pwmchip2" }) {
		fs::create_directory(root_ + "/" + n);
		write_file(root_ + "/" + n + "/npwm", "2\n");
		fs::create_directory_symlink(p1, root_ + "/" + n + "/device");
	}
	fs::create_directory_symlink(chip_, root_ + "/link-to-chip0");

	struct name_case {
		std::string name;
		int number; // -1: refused
		int err;
	};
	const name_case cases[] = {
		{ "pwmchip2", 2, 0 },
		{ root_ + "/pwmchip3", 3, 0 },
		{ root_ + "/link-to-chip0", 0, 0 },
		{ "4ff00000.pwm", 0, 0 }, // a parent's name before another's alias
		{ "4ff01000.pwm", 2, 0 }, // one parent, two chips: the lower
		{ "/pwm@4ff01000", 2, 0 }, // a node path before another's alias
		{ "pwm0", 0, 0 },
		{ "backlight-pwm", 0, 0 }, // a second alias
		{ "4ff00000", -1, ENOENT }, // a parent name's start
		{ "pwm-ghost", -1, ENOENT }, // inside a long line
		{ "pwm5", -1, ENOENT }, // a uevent past a page
		{ root_ + "/devices/pwmchip0", -1, ENOENT },
		{ "pwmchip4294967296", -1, ENOENT }, // no chip 0 by wrapping
		{ "pwmchip+2", -1, ENOENT }, // digits only
		{ "/pwm@4ff02000", -1, ENOENT },
		{ "pwm", -1, ENOENT }, // a node's name, not its path
		{ "pwmchip7", -1, ENOENT },
		{ root_ + "/devices", -1, ENOENT },
		{ "", -1, EINVAL },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		errno = 0;
		pwm_chip *chip = pwm_chip_open_by_name(c.name.c_str());
		EXPECT_EQ(chip != nullptr, c.number >= 0) << strerror(errno);
		if (chip == nullptr) {
			EXPECT_EQ(errno, c.err);
			continue;
		}
		EXPECT_EQ(pwm_chip_get_number(chip), static_cast<unsigned int>(c.number));
		EXPECT_EQ(pwm_chip_get_npwm(chip), c.number == 0 ? 4U : 2U);
		EXPECT_STREQ(pwm_chip_get_device_name(chip), c.number == 0 ? "4ff00000.pwm" : "4ff01000.pwm");
		EXPECT_STREQ(pwm_chip_get_driver_name(chip), c.number == 0 ? "pwm-mediatek" : nullptr);
		EXPECT_EQ(pwm_chip_has_device_node(chip), 0);
		pwm_chip_close(chip);
	}
	errno = 0;
	EXPECT_EQ(pwm_chip_open_by_name(nullptr), nullptr);
	EXPECT_EQ(errno, EINVAL);

	std::vector<int> numbers;
	for (int n = pwm_chip_next_number(-1); n >= 0; n = pwm_chip_next_number(n))
		numbers.push_back(n);
	EXPECT_EQ(numbers, (std::vector<int>{ 0, 2, 3, 5 }))
		<< "in number order, past the folders that are no chip";
	EXPECT_EQ(errno, ENOENT);
}

// What a channel is doing, seen without taking it, and read back from one
// that is held; sysfs cannot be asked how it would round.
TEST_F(SysfsTest, ChannelsAreDescribedWithoutBeingTaken)
{
	struct info_case {
		const char *name;
		bool exported;
		const char *listing; // the channel's lines in debugfs; nullptr: none readable
		int holder;
		const char *label;
		bool has_waveform;
		pwm_waveform wf;
	};
	// A label longer than a line buffer of a few hundred bytes: kept to what
	// the snapshot holds, and the holder's flag after it still read.
	const std::string long_entry = " pwm-1   (" + std::string(300, 'l') +
		"): requested\n  actual configuration:     enabled, 70000/200000 ns, normal polarity\n";
	const std::string kept_label(63, 'l');
	// clang-format off
	const info_case cases[] = {
		{ "exported, inversed", true, nullptr, PWM_HOLDER_SYSFS, nullptr, true, { 100, 30, 70 } },
		{ "exported: its attributes, whatever the listing's hardware line says", true,
		  " pwm-1   (sysfs               ): requested enabled\n"
		  "  actual configuration:     enabled, 60/99 ns, inverse polarity\n",
		  PWM_HOLDER_SYSFS, "sysfs", true, { 100, 30, 70 } },
		{ "a kernel driver of a long label", false, long_entry.c_str(), PWM_HOLDER_KERNEL, kept_label.c_str(),
		  true, { 200000, 70000, 0 } },
		{ "not exported, no debugfs", false, nullptr, PWM_HOLDER_UNKNOWN, nullptr, false, {} },
		{ "free", false, " pwm-1   ((null)              ):\n  actual configuration: read out error: -EOPNOTSUPP\n",
		  PWM_HOLDER_NONE, nullptr, false, {} },
		{ "an LED", false, " pwm-1   (led-1               ): requested\n"
		  "  requested configuration:  enabled, 50000/200000 ns, normal polarity\n"
		  "  actual configuration:     enabled, 50000/200000 ns, normal polarity\n",
		  PWM_HOLDER_KERNEL, "led-1", true, { 200000, 50000, 0 } },
		{ "a dark LED: no active part reads back as off", false, " pwm-1   (led-1               ): requested\n"
		  "  actual configuration:     enabled, 0/200000 ns, normal polarity\n",
		  PWM_HOLDER_KERNEL, "led-1", true, {} },
		{ "inversed at full duty: no active part either", false, " pwm-1   (led-1               ): requested\n"
		  "  actual configuration:     enabled, 200000/200000 ns, inverse polarity\n",
		  PWM_HOLDER_KERNEL, "led-1", true, {} },
		{ "no hardware line of its own: not the next channel's", false,
		  " pwm-1   (led-1               ): requested\n pwm-2   ((null)              ):\n"
		  "  actual configuration:     enabled, 5000/10000 ns, normal polarity\n",
		  PWM_HOLDER_KERNEL, "led-1", false, {} },
		{ "a number past 64 bits: no waveform, not a wrapped one", false,
		  " pwm-1   (led-1               ): requested\n"
		  "  actual configuration:     enabled, 18446744073709551616/200000 ns, normal polarity\n",
		  PWM_HOLDER_KERNEL, "led-1", false, {} },
		{ "inversed: the offset that ends the active part at the period's end", false,
		  " pwm-1   (led-1               ): requested\n"
		  "  actual configuration:     enabled, 150000/200000 ns, inverse polarity\n",
		  PWM_HOLDER_KERNEL, "led-1", true, { 200000, 50000, 150000 } },
	};
	// clang-format on
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		fs::remove_all(channel_dir(1));
		fs::remove(root_ + "/debugfs-pwm");
		if (c.exported) {
			lay_out_channel(1, { 100, 70, 1, true });
		}
		if (c.listing != nullptr) {
			write_file(root_ + "/debugfs-pwm",
				   std::string("0: platform/4ff01000.pwm, npwm: 4\n") +
					   " pwm-0   ((null)              ):\n" + c.listing);
		}
		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);
		pwm_info *info = pwm_chip_get_pwm_info(chip, 1);
		ASSERT_NE(info, nullptr) << strerror(errno);
		EXPECT_EQ(pwm_info_get_channel(info), 1U);
		EXPECT_EQ(pwm_info_get_holder(info), c.holder);
		EXPECT_STREQ(pwm_info_get_label(info), c.label);
		pwm_waveform wf{ 1, 1, 1 };
		errno = 0;
		EXPECT_EQ(pwm_info_get_waveform(info, &wf) == 0, c.has_waveform);
		if (c.has_waveform) {
			EXPECT_EQ(wf.period_length_ns, c.wf.period_length_ns);
			EXPECT_EQ(wf.duty_length_ns, c.wf.duty_length_ns);
			EXPECT_EQ(wf.duty_offset_ns, c.wf.duty_offset_ns);
		} else {
			EXPECT_EQ(errno, ENODATA);
		}
		pwm_info_free(info);
		EXPECT_EQ(read_file(chip_ + "/export"), "") << "looking exports nothing";
		pwm_chip_close(chip);
	}

	// A channel this process holds: read back, and not roundable here.
	fs::remove(root_ + "/debugfs-pwm");
	lay_out_channel(1, { 100, 70, 1, true });
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 1);
	ASSERT_NE(pwm, nullptr);
	pwm_waveform wf{ 200, 50, 150 };
	ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);
	pwm_waveform got{};
	EXPECT_EQ(pwm_get_waveform(pwm, &got), 0);
	EXPECT_EQ(got.duty_length_ns, 50U);
	EXPECT_EQ(got.duty_offset_ns, 150U);
	pwm_waveform dark{ 200, 0, 0 };
	ASSERT_EQ(pwm_set_waveform(pwm, &dark), 0);
	got = { 1, 1, 1 };
	EXPECT_EQ(pwm_get_waveform(pwm, &got), 0);
	EXPECT_EQ(got.period_length_ns + got.duty_length_ns + got.duty_offset_ns, 0U)
		<< "no active part: off";
	errno = 0;
	EXPECT_EQ(pwm_round_waveform(pwm, &wf), -1);
	EXPECT_EQ(errno, EOPNOTSUPP);
	pwm_waveform invalid{ 100, 101, 0 };
	errno = 0;
	EXPECT_EQ(pwm_round_waveform(pwm, &invalid), -1);
	EXPECT_EQ(errno, EINVAL) << "an invalid waveform is that before it is one sysfs cannot round";
	pwm_info *info = pwm_chip_get_pwm_info(chip, 1);
	ASSERT_NE(info, nullptr);
	EXPECT_EQ(pwm_info_get_holder(info), PWM_HOLDER_SYSFS);
	pwm_info_free(info);
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm_info(chip, 4), nullptr);
	EXPECT_EQ(errno, EINVAL);
	pwm_chip_close(chip);
}

// What an export that yields no channel folder ends in, and how soon.
TEST_F(SysfsTest, ExportWithoutChannelFolder)
{
	struct export_case {
		const char *name;
		int refused_with; // 0: the export is accepted
		bool exported_meanwhile; // someone else's export lays out the folder
		int err; // 0: the channel is taken
		std::chrono::milliseconds at_least, below;
		bool file_in_the_way = false; // a plain file named as the channel's folder
	};
	using ms = std::chrono::milliseconds;
	const export_case cases[] = {
		{ "accepted, folder never appears", 0, false, ETIMEDOUT, ms(1900), ms(4000) },
		{ "busy: a kernel driver holds the channel", EBUSY, false, EBUSY, ms(0), ms(200) },
		{ "busy: exported by someone else meanwhile", EBUSY, true, 0, ms(0), ms(200) },
		{ "refused otherwise", EACCES, false, EACCES, ms(0), ms(200) },
		{ "a file in the folder's place: no export tried", EACCES, false, ENOTDIR, ms(0), ms(200),
		  true },
	};
	struct stat st;
	ASSERT_EQ(stat((chip_ + "/export").c_str(), &st), 0);

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		fs::remove_all(channel_dir(2));
		if (c.file_in_the_way)
			write_file(channel_dir(2), "");
		refusal = { st.st_ino, c.refused_with, nullptr };
		if (c.exported_meanwhile)
			refusal.meanwhile = [this] { lay_out_channel(2, { 1000, 0, 0, false }); };

		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);
		const auto start = std::chrono::steady_clock::now();
		errno = 0;
		pwm *pwm = pwm_chip_get_pwm(chip, 2);
		const int err = errno;
		const auto waited = std::chrono::steady_clock::now() - start;
		refusal = {};
		EXPECT_EQ(pwm != nullptr, c.err == 0);
		if (c.err != 0) {
			EXPECT_EQ(err, c.err);
		}
		EXPECT_GE(waited, c.at_least);
		EXPECT_LT(waited, c.below);
		pwm_chip_close(chip);
	}
}

// The permission path as a user without root. CI runs as root, so a forked
// child becomes nobody (uid and gid 65534) with one supplementary group, as
// a member of the group that a udev rule names, and runs the library on the
// made-up tree that root laid out; the parent plays the kernel and udev
// meanwhile. Run without root, the child stays this user and the tree is
// its own, so "not writable" is the owner's write bit off: the modes below
// mean the same either way.
class PermissionTest : public SysfsTest {
protected:
	// What the child got, sent back through a pipe.
	enum stage { TAKEN_AND_APPLIED, OPEN_FAILED, GET_FAILED, APPLY_FAILED, STILL_PRIVILEGED, NO_RESULT };
	struct user_result {
		stage failed_at;
		int err;
		long long waited_ms; // in pwm_chip_get_pwm
	};

	void SetUp() override
	{
		SysfsTest::SetUp();
		privileged_ = geteuid() == 0;
		// A made-up group that no account has; without root, this
		// user's own group.
		group_ = privileged_ ? 64999 : getegid();
		chmod(root_.c_str(), 0755); // mkdtemp's 0700 would keep uid 65534 out
	}

	void TearDown() override
	{
		chmod(chip_.c_str(), 0755);
		SysfsTest::TearDown();
	}

	// What root's own files look like to the user: readable, not writable.
	static void make_root_only(const std::string &path, mode_t mode = 0444)
	{
		chmod(path.c_str(), mode);
	}
	// What udev's rule does: the group, then its write bit.
	void give_group(const std::string &path, mode_t mode = 0664) const
	{
		ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), group_), 0) << strerror(errno);
		ASSERT_EQ(chmod(path.c_str(), mode), 0) << strerror(errno);
	}

	// The channel's folder as the kernel makes it: all of it at once, with
	// the attributes root's (or, with grouped, already given to the group).
	void appear(unsigned int channel, bool grouped = false) const
	{
		const std::string tmp = chip_ + "/.appearing";
		fs::create_directory(tmp);
		const std::pair<const char *, const char *> fresh[] = {
			{ "period", "1000000000\n" },
			{ "duty_cycle", "1000000000\n" },
			{ "enable", "0\n" },
			{ "polarity", "normal\n" },
		};
		for (const auto &[name, value] : fresh) {
			write_file(tmp + "/" + name, value);
			if (grouped)
				give_group(tmp + "/" + name);
			else
				make_root_only(tmp + "/" + name);
		}
		fs::rename(tmp, channel_dir(channel));
	}
	void give_group_channel(unsigned int channel) const
	{
		for (const char *a : { "period", "duty_cycle", "enable", "polarity" })
			give_group(channel_dir(channel) + "/" + a);
	}

	// Runs the library as the user: opens chip 0, takes the channel, applies
	// a waveform. meanwhile runs in the parent while the child does so.
	user_result run_as_user(unsigned int channel, const std::function<void()> &meanwhile) const
	{
		int fds[2];
		if (pipe2(fds, O_CLOEXEC) < 0)
			return { NO_RESULT, errno, 0 };
		const pid_t pid = fork();
		if (pid == 0) {
			close(fds[0]);
			user_result r = { TAKEN_AND_APPLIED, 0, 0 };
			const uid_t nobody = 65534;
			if (privileged_ &&
			    (setgroups(1, &group_) < 0 || setgid(nobody) < 0 || setuid(nobody) < 0 ||
			     setuid(0) == 0)) {
				r = { STILL_PRIVILEGED, errno, 0 };
			} else if (pwm_chip *chip = pwm_chip_open_by_number(0); chip == nullptr) {
				r = { OPEN_FAILED, errno, 0 };
			} else {
				const auto start = std::chrono::steady_clock::now();
				pwm *pwm = pwm_chip_get_pwm(chip, channel);
				r.err = pwm == nullptr ? errno : 0;
				r.waited_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
						      std::chrono::steady_clock::now() - start)
						      .count();
				pwm_waveform wf{ 1000, 250, 0 };
				if (pwm == nullptr)
					r.failed_at = GET_FAILED;
				else if (pwm_set_waveform(pwm, &wf) < 0)
					r = { APPLY_FAILED, errno, r.waited_ms };
			}
			const ssize_t n = write(fds[1], &r, sizeof(r));
			_exit(n == static_cast<ssize_t>(sizeof(r)) ? 0 : 1);
		}
		close(fds[1]);
		if (pid > 0)
			meanwhile();
		user_result r = { NO_RESULT, pid < 0 ? errno : ECHILD, 0 };
		if (pid > 0 && read(fds[0], &r, sizeof(r)) != static_cast<ssize_t>(sizeof(r)))
			r = { NO_RESULT, ECHILD, 0 };
		close(fds[0]);
		if (pid > 0)
			waitpid(pid, nullptr, 0);
		return r;
	}

	bool privileged_ = false;
	gid_t group_ = 0;
};

TEST_F(PermissionTest, WhatAUserWithoutRootGets)
{
	struct permission_case {
		const char *name;
		bool exported; // the channel's folder is there before the call
		bool export_writable; // the group may write the chip's export
		int group_gets_attributes_ms; // after they appear; -1: never
		mode_t chip_mode;
		stage failed_at;
		int err;
		std::chrono::milliseconds at_least, below; // in pwm_chip_get_pwm
		int group_spacing_ms = 0; // udev's pace between one attribute and the next
		int attributes_late_ms = 0; // an exported folder is there this long without them
	};
	using ms = std::chrono::milliseconds;
	// clang-format off
	const permission_case cases[] = {
		{ "own export, udev gives the attributes one by one, 700 ms apart: one deadline for all", false, true,
		  700, 0755, GET_FAILED, EACCES, ms(1900), ms(2600), 700 },
		{ "exported meanwhile, the folder there before its attributes", true, false, 0, 0755,
		  TAKEN_AND_APPLIED, 0, ms(90), ms(900), 0, 100 },
		{ "export the user may not write: EACCES at once", false, false, -1, 0755,
		  GET_FAILED, EACCES, ms(0), ms(300) },
		{ "own export, attributes stay root's: EACCES after the wait, not ETIMEDOUT", false, true, -1, 0755,
		  GET_FAILED, EACCES, ms(1900), ms(4000) },
		{ "own export, udev gives the group the attributes 100 ms later", false, true, 100, 0755,
		  TAKEN_AND_APPLIED, 0, ms(90), ms(900) },
		{ "exported earlier by root, attributes root's: EACCES at once", true, true, -1, 0755,
		  GET_FAILED, EACCES, ms(0), ms(300) },
		{ "exported earlier, attributes the group's: export not needed", true, false, 0, 0755,
		  TAKEN_AND_APPLIED, 0, ms(0), ms(300) },
		{ "chip folder the user may not read", false, true, -1, 0311,
		  OPEN_FAILED, EACCES, ms(0), ms(0) },
	};
	// clang-format on
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		fs::remove_all(channel_dir(1));
		write_file(chip_ + "/export", "");
		if (c.export_writable)
			give_group(chip_ + "/export", 0620);
		else
			make_root_only(chip_ + "/export", 0400);
		if (c.exported && c.attributes_late_ms > 0) {
			fs::create_directory(channel_dir(1));
		} else if (c.exported) {
			appear(1);
			if (c.group_gets_attributes_ms == 0)
				give_group_channel(1);
		}
		chmod(chip_.c_str(), c.chip_mode);

		// The kernel's part and udev's, for the export the child makes.
		const auto kernel_and_udev = [&] {
			if (c.attributes_late_ms > 0) {
				std::this_thread::sleep_for(ms(c.attributes_late_ms));
				appear(1, true);
				return;
			}
			if (c.exported || !c.export_writable || c.chip_mode != 0755)
				return;
			for (int i = 0; i < 1000 && read_file(chip_ + "/export").empty(); ++i)
				std::this_thread::sleep_for(ms(2));
			appear(1);
			if (c.group_gets_attributes_ms < 0)
				return;
			std::this_thread::sleep_for(ms(c.group_gets_attributes_ms));
			for (const char *a : { "period", "duty_cycle", "enable", "polarity" }) {
				give_group(channel_dir(1) + "/" + a);
				std::this_thread::sleep_for(ms(c.group_spacing_ms));
			}
		};
		const user_result r = run_as_user(1, kernel_and_udev);
		chmod(chip_.c_str(), 0755);
		if (r.failed_at == STILL_PRIVILEGED)
			GTEST_SKIP() << "cannot become uid 65534 with one supplementary group: "
				     << strerror(r.err);
		ASSERT_NE(r.failed_at, NO_RESULT) << "no result from the child: " << strerror(r.err);

		EXPECT_EQ(r.failed_at, c.failed_at);
		EXPECT_EQ(r.err, c.err) << strerror(r.err);
		if (c.failed_at != OPEN_FAILED) {
			EXPECT_GE(ms(r.waited_ms), c.at_least);
			EXPECT_LT(ms(r.waited_ms), c.below);
		}
		const bool exports = c.failed_at != OPEN_FAILED && !c.exported && c.export_writable;
		EXPECT_EQ(read_file(chip_ + "/export"), exports ? "1\n" : "")
			<< "an export only where the channel was missing and the user may write it";
		if (c.failed_at == TAKEN_AND_APPLIED) {
			EXPECT_EQ(read_channel(1), (channel_state{ 1000, 250, 1, false }));
		}
	}
}

struct refusal_rule {
	const char *attr; // nullptr: the driver takes every value
	uint64_t lo, hi; // values outside are refused with EINVAL
	bool cut_short = false; // instead, taken with a write one byte short
};

struct waveform_case {
	const char *name;
	channel_state before;
	pwm_waveform wf;
	int result;
	int err;
	std::vector<std::string> writes; // in order; back-to-back writes to one file show once
	channel_state after;
	refusal_rule refuses = {};
	bool waveform_chip = false; // the chip has a device node
	const char *actual = nullptr; // debugfs's "actual configuration" of pwm-0
	bool read_first = false; // the waveform read back once before the call
};

// clang-format off
const waveform_case waveform_cases[] = {
	{ "fresh export, period shrinks below the duty: duty first",
	  { 1000000000, 1000000000, 0, false }, { 50000, 0, 0 }, 0, 0,
	  { "duty_cycle", "period", "enable" }, { 50000, 0, 1, false } },
	{ "running, period shrinks below the old duty", { 100, 80, 1, false }, { 50, 10, 0 }, 0, 0,
	  { "duty_cycle", "period" }, { 50, 10, 1, false } },
	{ "running, period grows past the old one: period first", { 100, 80, 1, false }, { 1000, 900, 0 }, 0, 0,
	  { "period", "duty_cycle" }, { 1000, 900, 1, false } },
	{ "found with period 0", { 0, 0, 0, false }, { 100, 30, 0 }, 0, 0,
	  { "period", "duty_cycle", "enable" }, { 100, 30, 1, false } },
	{ "only the duty changes: one write", { 100, 30, 1, false }, { 100, 40, 0 }, 0, 0,
	  { "duty_cycle" }, { 100, 40, 1, false } },
	{ "nothing changes: no write", { 100, 30, 1, false }, { 100, 30, 0 }, 0, 0, {}, { 100, 30, 1, false } },
	{ "inversed on entry and running: stopped, turned, started", { 100, 30, 1, true }, { 100, 30, 0 }, 0, 0,
	  { "enable", "polarity", "enable" }, { 100, 30, 1, false } },
	{ "inversed on entry and stopped", { 200, 150, 0, true }, { 100, 30, 0 }, 0, 0,
	  { "duty_cycle", "period", "polarity", "enable" }, { 100, 30, 1, false } },
	{ "active part at the end of the period is inversed", { 100, 0, 1, false }, { 100, 30, 70 }, 0, 0,
	  { "enable", "duty_cycle", "polarity", "enable" }, { 100, 70, 1, true } },
	{ "period 0 turns the output off", { 100, 30, 1, false }, { 0, 0, 0 }, 0, 0,
	  { "enable" }, { 100, 30, 0, false } },
	{ "period 0 on a stopped output: no write", { 100, 30, 0, false }, { 0, 0, 0 }, 0, 0,
	  {}, { 100, 30, 0, false } },
	{ "period 0 with a duty is a duty above the period", { 100, 30, 1, false }, { 0, 5, 0 }, -1, EINVAL,
	  {}, { 100, 30, 1, false } },
	{ "offset at the period", { 100, 30, 1, false }, { 100, 0, 100 }, -1, EINVAL,
	  {}, { 100, 30, 1, false } },
	{ "found stopped at the same period: duty, then enable", { 100, 30, 0, false }, { 100, 40, 0 }, 0, 0,
	  { "duty_cycle", "enable" }, { 100, 40, 1, false } },
	{ "duty above the period", { 100, 30, 1, false }, { 100, 101, 0 }, -1, EINVAL,
	  {}, { 100, 30, 1, false } },
	{ "offset sysfs cannot express", { 100, 30, 1, false }, { 100, 30, 10 }, -1, EOPNOTSUPP,
	  {}, { 100, 30, 1, false } },
	{ "period held by another channel: the duty put back", { 300000, 250000, 1, false }, { 50000, 10000, 0 },
	  -1, EINVAL, { "duty_cycle" }, { 300000, 250000, 1, false }, { "period", 300000, 300000 } },
	{ "period below the shortest, inversed: all put back", { 100000, 50000, 1, false }, { 30, 10, 20 },
	  -1, EINVAL, { "enable", "duty_cycle", "enable" }, { 100000, 50000, 1, false },
	  { "period", 39, UINT64_MAX } },
	{ "duty written short: refused, put back", { 100, 30, 1, false }, { 100, 40, 0 }, -1, EIO,
	  { "duty_cycle" }, { 100, 30, 1, false }, { "duty_cycle", 0, 30, true } },
	{ "enable refused: period and duty put back", { 1000, 500, 0, false }, { 2000, 1500, 0 }, -1, EINVAL,
	  { "period", "duty_cycle", "period" }, { 1000, 500, 0, false }, { "enable", 0, 0 } },
	{ "inversed on a waveform chip without debugfs: refused", { 100, 30, 1, false }, { 100, 30, 70 },
	  -1, EOPNOTSUPP, {}, { 100, 30, 1, false }, {}, true },
	{ "inversed on a waveform chip, offset dropped: put back", { 100, 30, 1, false }, { 100, 30, 70 },
	  -1, EOPNOTSUPP, { "enable", "duty_cycle", "polarity", "enable", "duty_cycle", "polarity", "enable" },
	  { 100, 30, 1, false }, {}, true, "30/100 [+0]" },
	{ "inversed on a waveform chip, offset made", { 100, 30, 1, false }, { 100, 30, 70 }, 0, 0,
	  { "enable", "duty_cycle", "polarity", "enable" }, { 100, 70, 1, true }, {}, true, "30/100 [+70]" },
	{ "inversed accepted, normal run: put back", { 100, 30, 1, false }, { 100, 30, 70 }, -1, EOPNOTSUPP,
	  { "enable", "duty_cycle", "polarity", "enable", "duty_cycle", "polarity", "enable" },
	  { 100, 30, 1, false }, {}, false, "   enabled, 70/100 ns, normal polarity" },
	{ "legacy driver runs a longer period: put back", { 100, 30, 1, false }, { 50, 10, 0 }, -1, EINVAL,
	  { "period", "duty_cycle", "period", "duty_cycle" }, { 100, 30, 1, false }, {}, false,
	  "   enabled, 10/84 ns, normal polarity" },
	{ "legacy driver runs it off", { 100, 30, 0, false }, { 100, 30, 0 }, -1, EINVAL, { "enable" },
	  { 100, 30, 0, false }, {}, false, "   disabled, 0/0 ns, normal polarity" },
	{ "legacy driver runs duty 0 as off", { 100, 30, 0, false }, { 100, 0, 0 }, 0, 0, { "duty_cycle", "enable" },
	  { 100, 0, 1, false }, {}, false, "   disabled, 0/0 ns, normal polarity" },
	{ "legacy driver reads back a duty above the period", { 100, 30, 1, false }, { 200, 30, 0 }, -1, EIO,
	  { "period" }, { 100, 30, 1, false }, {}, false, "   enabled, 300/200 ns, normal polarity" },
	{ "legacy driver still runs after off", { 100, 30, 0, false }, { 0, 0, 0 }, -1, EIO, {}, { 100, 30, 0, false },
	  {}, false, "   enabled, 30/100 ns, normal polarity" },
	{ "legacy driver rounds down: made", { 100, 30, 1, false }, { 200, 30, 0 }, 0, 0, { "period" },
	  { 200, 30, 1, false }, {}, false, "   enabled, 29/198 ns, normal polarity" },
	{ "found running at a longer period than sysfs says: refused", { 100, 30, 1, false }, { 100, 40, 0 }, -1,
	  EINVAL, { "duty_cycle" }, { 100, 30, 1, false }, {}, false, "   enabled, 30/120 ns, normal polarity" },
	{ "the same, read back first: still checked", { 100, 30, 1, false }, { 100, 40, 0 }, -1,
	  EINVAL, { "duty_cycle" }, { 100, 30, 1, false }, {}, false, "   enabled, 30/120 ns, normal polarity", true },
	{ "found inversed at full duty: a running start, off in the waveform's terms", { 100, 100, 1, true },
	  { 100, 40, 0 }, 0, 0, { "enable", "duty_cycle", "polarity", "enable" }, { 100, 40, 1, false }, {}, false,
	  nullptr, true },
	{ "start refused, put back to stopped: stopped first", { 1000, 500, 0, false }, { 100, 50, 0 }, -1, EINVAL,
	  { "duty_cycle", "period", "enable", "period", "duty_cycle" }, { 1000, 500, 0, false }, {}, false,
	  "   disabled, 0/0 ns, normal polarity" },
	{ "legacy driver reads duty 0 back off, at a longer period: refused", { 0, 0, 0, false }, { 100000, 0, 0 }, -1,
	  EINVAL, { "period", "enable", "period" }, { 0, 0, 0, false }, {}, false,
	  "   disabled, 0/655360 ns, normal polarity" },
	{ "duty 0 refused at the start: switched off instead", { 1000, 500, 0, false }, { 2000, 0, 0 }, 0, 0,
	  { "period", "duty_cycle", "period", "duty_cycle" }, { 1000, 500, 0, false }, { "enable", 0, 0 } },
	{ "duty 0 refused while running: switched off instead", { 100, 30, 1, false }, { 100, 0, 0 }, 0, 0,
	  { "enable" }, { 100, 30, 0, false }, { "duty_cycle", 1, UINT64_MAX } },
	{ "a waveform chip's refused start at duty 0 stands", { 1000, 500, 0, false }, { 2000, 0, 0 }, -1, EINVAL,
	  { "period", "duty_cycle", "period", "duty_cycle" }, { 1000, 500, 0, false }, { "enable", 0, 0 }, true },
	{ "a period refused stays refused at duty 0", { 100, 30, 1, false }, { 50, 0, 0 }, -1, EINVAL,
	  {}, { 100, 30, 1, false }, { "period", 100, UINT64_MAX } },
	{ "inversed run inversed", { 100, 30, 1, false }, { 100, 30, 70 }, 0, 0,
	  { "enable", "duty_cycle", "polarity", "enable" }, { 100, 70, 1, true }, {}, false,
	  "   enabled, 70/100 ns, inverse polarity" },
};
// clang-format on

void PrintTo(const waveform_case &c, std::ostream *os)
{
	*os << c.name;
}

class WaveformTest : public SysfsTest, public testing::WithParamInterface<waveform_case> {};

TEST_P(WaveformTest, WritesOnlyWhatChangesInAnOrderTheKernelAccepts)
{
	const waveform_case &c = GetParam();
	lay_out_channel(0, c.before);
	if (c.waveform_chip)
		write_file(chip_ + "/dev", "254:0\n");
	if (c.actual != nullptr) {
		write_file(root_ + "/debugfs-pwm",
			   std::string("0: platform/4ff00000.pwm, npwm: 4\n") +
				   " pwm-0   (sysfs               ): requested\n" +
				   "  requested configuration: ...\n" +
				   "  actual configuration: " + c.actual + "\n");
	}
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 0);
	ASSERT_NE(pwm, nullptr);

	if (c.read_first) {
		pwm_waveform seen{ 1, 1, 1 };
		ASSERT_EQ(pwm_get_waveform(pwm, &seen), 0);
		if (c.before.inversed && c.before.duty == c.before.period) {
			EXPECT_EQ(seen.period_length_ns + seen.duty_length_ns + seen.duty_offset_ns, 0U)
				<< "inversed at full duty has no active part";
		}
	}
	write_recorder recorder(channel_dir(0));
	if (c.refuses.attr != nullptr) {
		struct stat st;
		ASSERT_EQ(stat((channel_dir(0) + "/" + c.refuses.attr).c_str(), &st), 0);
		attr_refusal = { st.st_ino, c.refuses.lo, c.refuses.hi, EINVAL, c.refuses.cut_short };
	}
	pwm_waveform wf = c.wf;
	errno = 0;
	const int result = pwm_set_waveform(pwm, &wf);
	const int err = errno;
	attr_refusal = {};
	EXPECT_EQ(result, c.result);
	if (c.result < 0) {
		EXPECT_EQ(err, c.err);
	}
	EXPECT_EQ(recorder.writes(), c.writes);
	pwm_chip_close(chip);
	EXPECT_EQ(read_channel(0), c.after);
}

std::string waveform_case_name(const testing::TestParamInfo<waveform_case> &info)
{
	std::string name;
	for (const char *p = info.param.name; *p != '\0'; ++p) {
		if (isalnum(static_cast<unsigned char>(*p)))
			name += *p;
	}
	return name;
}

INSTANTIATE_TEST_SUITE_P(Sysfs, WaveformTest, testing::ValuesIn(waveform_cases), waveform_case_name);

// A start read back with no active part shows no period: the next waveform
// is read back too, not taken as a step of the duty alone.
TEST_F(SysfsTest, StartReadBackDarkConfirmsNoPeriod)
{
	lay_out_channel(0, { 0, 0, 0, false });
	const auto listing = [this](const char *actual) {
		write_file(root_ + "/debugfs-pwm",
			   std::string("0: platform/4ff00000.pwm, npwm: 4\n") +
				   " pwm-0   (sysfs               ): requested\n" +
				   "  actual configuration: " + actual + "\n");
	};
	listing("   disabled, 0/0 ns, normal polarity");
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 0);
	ASSERT_NE(pwm, nullptr);
	pwm_waveform wf{ 100000, 0, 0 };
	ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);
	listing("   enabled, 50000/655360 ns, normal polarity");
	wf.duty_length_ns = 50000;
	errno = 0;
	EXPECT_EQ(pwm_set_waveform(pwm, &wf), -1);
	EXPECT_EQ(errno, EINVAL);
	pwm_chip_close(chip);
	EXPECT_EQ(read_channel(0), (channel_state{ 100000, 0, 1, false }));
}

// Which write the kernel refused is the call's own: a duty of 0 refused
// once does not turn a later refusal of a longer period into the output
// switched off.
TEST_F(SysfsTest, DutyRefusedOnceDoesNotExcuseALaterRefusal)
{
	lay_out_channel(0, { 100, 30, 1, false });
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 0);
	ASSERT_NE(pwm, nullptr);
	struct stat st;
	ASSERT_EQ(stat((channel_dir(0) + "/duty_cycle").c_str(), &st), 0);
	attr_refusal = { st.st_ino, 1, UINT64_MAX, EINVAL, false };
	pwm_waveform wf{ 100, 0, 0 };
	EXPECT_EQ(pwm_set_waveform(pwm, &wf), 0);
	attr_refusal = {};
	EXPECT_EQ(read_channel(0), (channel_state{ 100, 30, 0, false })) << "switched off";
	write_file(root_ + "/debugfs-pwm",
		   "0: platform/4ff00000.pwm, npwm: 4\n"
		   " pwm-0   (sysfs               ): requested\n"
		   "  actual configuration:     disabled, 0/655360 ns, normal polarity\n");
	wf = { 100000, 0, 0 };
	errno = 0;
	EXPECT_EQ(pwm_set_waveform(pwm, &wf), -1);
	EXPECT_EQ(errno, EINVAL);
	pwm_chip_close(chip);
}

TEST_F(SysfsTest, RefusedWriteIsNotBelieved)
{
	lay_out_channel(0, { 100, 30, 1, false });
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 0);
	ASSERT_NE(pwm, nullptr);

	// A file size limit of 0 makes the write fail as a refusing kernel
	// would, with an errno of its own.
	struct rlimit old_limit;
	getrlimit(RLIMIT_FSIZE, &old_limit);
	const struct rlimit no_writes = { 0, old_limit.rlim_max };
	auto *old_handler = signal(SIGXFSZ, SIG_IGN);
	setrlimit(RLIMIT_FSIZE, &no_writes);
	pwm_waveform wf{ 100, 40, 0 };
	errno = 0;
	const int result = pwm_set_waveform(pwm, &wf);
	const int err = errno;
	setrlimit(RLIMIT_FSIZE, &old_limit);
	signal(SIGXFSZ, old_handler);
	EXPECT_EQ(result, -1);
	EXPECT_EQ(err, EFBIG);

	// Meanwhile the channel has changed behind the library's back. The
	// next waveform must start from what the files say, not from a guess:
	// with the duty at 150 the shrinking period has to wait for the duty.
	lay_out_channel(0, { 200, 150, 0, false });
	write_recorder recorder(channel_dir(0));
	EXPECT_EQ(pwm_set_waveform(pwm, &wf), 0);
	EXPECT_EQ(recorder.writes(), (std::vector<std::string>{ "duty_cycle", "period", "enable" }));
	pwm_chip_close(chip);
	EXPECT_EQ(read_channel(0), (channel_state{ 100, 40, 1, false }));
}

// One holder per channel, across handles and processes alike; the lock goes
// with the handle, and the channel stays exported.
TEST_F(SysfsTest, ChannelHasOneHolderAtATime)
{
	lay_out_channel(1, { 1000000000, 1000000000, 0, false });
	pwm_chip *first = pwm_chip_open_by_number(0);
	ASSERT_NE(first, nullptr);
	pwm *held = pwm_chip_get_pwm(first, 1);
	ASSERT_NE(held, nullptr);
	pwm_waveform wf{ 300, 100, 0 };
	ASSERT_EQ(pwm_set_waveform(held, &wf), 0);

	pwm_chip *second = pwm_chip_open_by_number(0);
	ASSERT_NE(second, nullptr);
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm(second, 1), nullptr);
	EXPECT_EQ(errno, EBUSY);

	const tool_run other = run_tool({ "-p", "1", "-P", "20", "-S", "7" },
					{ "QUORVIN_SYSFS_DIR=" + root_, "ASAN_OPTIONS=detect_leaks=0" });
	EXPECT_EQ(other.status, 1);
	EXPECT_EQ(other.err, "Failed to get pwm0: Device or resource busy\n");
	EXPECT_EQ(read_channel(1), (channel_state{ 300, 100, 1, false })) << "the holder's waveform stands";

	wf.duty_length_ns = 200;
	EXPECT_EQ(pwm_set_waveform(held, &wf), 0);
	pwm_chip_close(first);
	EXPECT_EQ(read_channel(1), (channel_state{ 300, 200, 1, false }));
	EXPECT_EQ(read_file(chip_ + "/unexport"), "");

	EXPECT_NE(pwm_chip_get_pwm(second, 1), nullptr) << "released by closing the first chip";
	pwm_chip_close(second);
	EXPECT_EQ(run_tool({ "-p", "1", "-P", "20", "-S", "7" }, { "QUORVIN_SYSFS_DIR=" + root_ }).status, 0);
}

// Given back before the chip, a channel taken through sysfs stays exported
// with its waveform; only the hold ends, and its handle is refused until it
// is taken again.
TEST_F(SysfsTest, ReleasedChannelStaysExportedAndItsHandleRefused)
{
	lay_out_channel(1, { 1000000000, 1000000000, 0, false });
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *held = pwm_chip_get_pwm(chip, 1);
	ASSERT_NE(held, nullptr);
	pwm_waveform wf{ 300, 100, 0 };
	ASSERT_EQ(pwm_set_waveform(held, &wf), 0);
	pwm_release(held);
	EXPECT_EQ(read_channel(1), (channel_state{ 300, 100, 1, false }));
	EXPECT_EQ(read_file(chip_ + "/unexport"), "");
	errno = 0;
	EXPECT_EQ(pwm_set_waveform(held, &wf), -1);
	EXPECT_EQ(errno, EBADF);

	pwm_chip *second = pwm_chip_open_by_number(0);
	ASSERT_NE(second, nullptr);
	pwm *other = pwm_chip_get_pwm(second, 1);
	EXPECT_NE(other, nullptr) << "the hold ended";
	errno = 0;
	EXPECT_EQ(pwm_chip_export_pwm(chip, 1), nullptr);
	EXPECT_EQ(errno, EBUSY) << "held by the other handle now";
	pwm_chip_close(second);
	EXPECT_EQ(pwm_chip_export_pwm(chip, 1), held) << "taken again: the same handle";
	wf.duty_length_ns = 200;
	EXPECT_EQ(pwm_set_waveform(held, &wf), 0);
	EXPECT_EQ(read_channel(1), (channel_state{ 300, 200, 1, false }));
	pwm_chip_close(chip);
}

// What the hardware runs through sysfs is the debugfs listing's read-back,
// in pwm_get_waveform's form; where the listing cannot tell, it says why.
TEST_F(SysfsTest, HardwareWaveformIsTheListingsReadBack)
{
	struct case_row {
		const char *name;
		const char *listing; // nullptr: no listing
		int err; // 0: read
		const char *want; // period/duty/offset
	};
	const std::string header =
		"0: platform/4ff00000.pwm, npwm: 4\n pwm-1   (sysfs               ): requested\n";
	// clang-format off
	const case_row cases[] = {
		{ "no listing", nullptr, ENOENT, "" },
		{ "a waveform chip's rounding", "  actual configuration: 1498160/19988480 [+0]\n", 0, "19988480/1498160/0" },
		{ "a legacy driver's", "  actual configuration:     enabled, 29/198 ns, normal polarity\n", 0, "198/29/0" },
		{ "inversed", "  actual configuration:     enabled, 29/198 ns, inverse polarity\n", 0, "198/169/29" },
		{ "stopped", "  actual configuration:     disabled, 29/198 ns, normal polarity\n", 0, "0/0/0" },
		{ "no active part", "  actual configuration: 0/39 [+0]\n", 0, "0/0/0" },
		{ "a driver without read-back", "  actual configuration: read out error: -EOPNOTSUPP\n", ENODATA, "" },
		{ "a kernel that shows none", "  requested configuration: ...\n", ENODATA, "" },
	};
	// clang-format on
	lay_out_channel(1, { 1000000000, 1000000000, 0, false });
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 1);
	ASSERT_NE(pwm, nullptr);
	pwm_waveform wf{ 20000000, 1500000, 0 };
	ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		fs::remove(root_ + "/debugfs-pwm");
		if (c.listing != nullptr)
			write_file(root_ + "/debugfs-pwm", header + c.listing);
		pwm_waveform got{ 7, 7, 7 };
		errno = 0;
		const int ret = pwm_get_hardware_waveform(pwm, &got);
		if (c.err != 0) {
			EXPECT_EQ(ret, -1);
			EXPECT_EQ(errno, c.err);
			continue;
		}
		ASSERT_EQ(ret, 0) << strerror(errno);
		EXPECT_EQ(std::to_string(got.period_length_ns) + "/" + std::to_string(got.duty_length_ns) +
				  "/" + std::to_string(got.duty_offset_ns),
			  c.want);
		ASSERT_EQ(pwm_get_waveform(pwm, &got), 0);
		EXPECT_EQ(got.period_length_ns, 20000000U) << "what the kernel accepted";
	}
	pwm_chip_close(chip);
}

TEST_F(SysfsTest, ToolSweepsMadeUpChip)
{
	lay_out_channel(1, { 1000000000, 1000000000, 0, false });
	// No library path: the tool finds its library by itself.
	const tool_run run = run_tool({ "-p", "1", "-P", "20", "-S", "7" }, { "QUORVIN_SYSFS_DIR=" + root_ });
	EXPECT_EQ(run.status, 0);
	EXPECT_EQ(run.out + run.err, "");
	EXPECT_EQ(read_channel(1), (channel_state{ 20, 14, 1, false }));

	const tool_run down = run_tool({ "-p", "1", "-P", "10", "-S", "-4" },
				       { "QUORVIN_SYSFS_DIR=" + root_ });
	EXPECT_EQ(down.status, 0);
	EXPECT_EQ(read_channel(1), (channel_state{ 10, 2, 1, false }));

	const tool_run missing = run_tool({ "-c", "9" }, { "QUORVIN_SYSFS_DIR=" + root_ });
	EXPECT_EQ(missing.status, 1);
	EXPECT_EQ(missing.err, "Failed to open pwmchip0: No such file or directory\n");

	// After a failure the tool makes no further library call, so the chip
	// is left to the process's exit: no leak to report in a sanitizer build.
	const tool_run beyond = run_tool({ "-p", "4" },
					 { "QUORVIN_SYSFS_DIR=" + root_, "ASAN_OPTIONS=detect_leaks=0" });
	EXPECT_EQ(beyond.status, 1);
	EXPECT_EQ(beyond.err, "Failed to get pwm0: Invalid argument\n");
}

} // namespace

// A chip whose parent device went away (its driver unbound) while a handle
// was open: its channels are no more, on either path.
TEST_F(SysfsTest, ChannelOfAChipWhoseParentWentAwayIsNoDevice)
{
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	fs::remove_all(chip_);
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm_info(chip, 0), nullptr);
	EXPECT_EQ(errno, ENODEV);
	pwm_chip_close(chip);
}
