// SPDX-License-Identifier: GPL-2.0-only
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
/*
 * A test-only mailbox described by the device tree, standing in for a board
 * firmware that answers property messages: a message is the bus address of
 * a buffer in RAM (low 4 bits the channel) holding
 *   size, status (0: a request), tag..., 0
 * each tag being
 *   id, size of its value buffer, request/response size, value...
 * The firmware answers in the same buffer: status 0x80000000, and each tag's
 * response size with bit 31 set. Two tags are kept, a file of 256 values:
 *   0x00030049  get: value { register, value, result }: value and result 0
 *   0x00030050  set: the same, storing value
 * Every other tag is answered with its value buffer as it came (zeros for a
 * request that sends none). The answer comes before the send returns, as a
 * firmware that is done at once.
 */
#include <linux/io.h>
#include <linux/mailbox_controller.h>
#include <linux/mm.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/platform_device.h>

#define PROP_STATUS_SUCCESS 0x80000000u
#define PROP_STATUS_ERROR 0x80000001u
#define PROP_TAG_GET_VALUE 0x00030049u
#define PROP_TAG_SET_VALUE 0x00030050u

struct prop_mbox {
	struct mbox_controller ctlr;
	struct mbox_chan chan;
	u32 values[256];
};

/* Answers one tag (its three words of header and its value buffer). */
static void prop_tag(struct prop_mbox *pm, u32 *tag)
{
	u32 *v = &tag[3];

	if ((tag[0] == PROP_TAG_GET_VALUE || tag[0] == PROP_TAG_SET_VALUE) && tag[1] >= 12) {
		const u32 reg = v[0] & 0xff;

		if (tag[0] == PROP_TAG_SET_VALUE)
			pm->values[reg] = v[1];
		v[1] = pm->values[reg];
		v[2] = 0;
	}
	tag[2] = PROP_STATUS_SUCCESS | tag[1];
}

/* Answers a message's buffer of size bytes (words up to its end tag). */
static void prop_answer(struct prop_mbox *pm, u32 *buf, u32 size)
{
	u32 at = 2, words = size / 4;

	if (size % 4 || size < 12) {
		buf[1] = PROP_STATUS_ERROR;
		return;
	}
	while (at < words && buf[at] != 0) {
		/* The header, the value buffer and what follows must fit. */
		if (words - at < 3 || buf[at + 1] % 4 || buf[at + 1] / 4 > words - at - 3) {
			buf[1] = PROP_STATUS_ERROR;
			return;
		}
		prop_tag(pm, &buf[at]);
		at += 3 + buf[at + 1] / 4;
	}
	buf[1] = at < words ? PROP_STATUS_SUCCESS : PROP_STATUS_ERROR;
}

static int prop_send_data(struct mbox_chan *chan, void *data)
{
	struct prop_mbox *pm = container_of(chan->mbox, struct prop_mbox, ctlr);
	u32 msg = *(u32 *)data;
	phys_addr_t addr = msg & ~0xfu;
	u32 *buf;

	/* The buffer is the caller's page-aligned RAM: a page at most. */
	if (offset_in_page(addr))
		return -EINVAL;
	buf = memremap(addr, PAGE_SIZE, MEMREMAP_WB);
	if (!buf)
		return -EINVAL;
	if (buf[0] > PAGE_SIZE)
		buf[1] = PROP_STATUS_ERROR;
	else
		prop_answer(pm, buf, buf[0]);
	memunmap(buf);
	mbox_chan_received_data(chan, &msg);
	return 0;
}

static bool prop_last_tx_done(struct mbox_chan *chan)
{
	return true;
}

static const struct mbox_chan_ops prop_ops = {
	.send_data = prop_send_data,
	.last_tx_done = prop_last_tx_done,
};

static int prop_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct prop_mbox *pm;

	pm = devm_kzalloc(dev, sizeof(*pm), GFP_KERNEL);
	if (!pm)
		return -ENOMEM;
	pm->ctlr.dev = dev;
	pm->ctlr.ops = &prop_ops;
	pm->ctlr.chans = &pm->chan;
	pm->ctlr.num_chans = 1;
	pm->ctlr.txdone_poll = true;
	pm->ctlr.txpoll_period = 1;
	return devm_mbox_controller_register(dev, &pm->ctlr);
}

static const struct of_device_id prop_of_match[] = { { .compatible = "quorvin-test,mbox-property" }, {} };
MODULE_DEVICE_TABLE(of, prop_of_match);

static struct platform_driver prop_driver = {
	.probe = prop_probe,
	.driver = {
		.name = "mbox-property",
		.of_match_table = prop_of_match,
	},
};
module_platform_driver(prop_driver);

MODULE_DESCRIPTION("Test mailbox answering firmware property messages, described by the device tree");
MODULE_LICENSE("GPL");
