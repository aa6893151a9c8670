#!/usr/bin/perl
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#
# Run after doxygen on the API reference's XML: every public enumerator has
# its comment. Doxygen warns about an undocumented call, type or member
# itself, but lets an enumerator without a comment by. (It also says nothing
# about a header without its @file comment, which then drops out of the
# reference whole: the main page's @ref to each header fails the build then.)
#
# Usage: check-api-docs.pl XML-FOLDER
# Prints one line per undocumented enumerator and exits 1 if there is any.
use strict;
use warnings;

die "usage: $0 XML-FOLDER\n" unless @ARGV == 1;
my ($xml) = @ARGV;

my @undocumented;
opendir(my $dir, $xml) or die "$xml: $!\n";
for my $file (sort grep { /\.xml$/ } readdir $dir) {
	open(my $in, '<', "$xml/$file") or die "$xml/$file: $!\n";
	my $text = do { local $/; <$in> };
	# An enum a program cannot reach (private to a class) is no part of the
	# interface.
	while ($text =~ m{(<memberdef kind="enum" [^>]*prot="(?!private)[^"]*".*?</memberdef>)}sg) {
		my $enum = $1;
		my ($name) = $enum =~ m{<qualifiedname>([^<]*)</qualifiedname>};
		($name) = $enum =~ m{<name>([^<]*)</name>} unless defined $name;
		my ($where) = $enum =~ m{<location file="([^"]*)" line="(\d+)"} ? "$1:$2" : $file;
		while ($enum =~ m{<enumvalue .*?<name>([^<]*)</name>(.*?)</enumvalue>}sg) {
			my ($value, $description) = ($1, $2);
			$description =~ s/<initializer>.*?<\/initializer>|<[^>]*>//sg;
			push @undocumented, "$where: enumerator $value of $name" unless $description =~ /\S/;
		}
	}
}

if (@undocumented) {
	print "an enumerator without its comment, for the API reference:\n";
	print "  $_\n" for @undocumented;
	exit 1;
}
