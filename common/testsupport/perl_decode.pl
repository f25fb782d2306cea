#!/usr/bin/perl
# Reads a composed message back with Perl's Email::MIME and Encode, as a
# recipient's mail program would, for the tests.
#
#   perl_decode.pl MESSAGE JIS-DECODER
#
# JIS-DECODER decodes the ISO-2022-JP text: "iso-2022-jp" (Encode's standard
# decoder) or "cp50221" (Encode::EUCJPMS, which also knows NEC row 13 and the
# IBM extension rows). Decoding is strict: a byte sequence the decoder does
# not know is an error (exit 3), never a silent substitution. UTF-8 text is
# decoded as UTF-8, strictly too.
#
# Prints one line per field, "name<TAB>hex of UTF-8": subject, from, to, cc,
# charset (of the text part), body, then per attachment "name" (as
# Email::MIME's filename gives it, RFC 2231 included), "name-words" (the
# encoded-words of filename="...", the form older readers take) and "data"
# (hex of the bytes). Encoded-words are decoded here, with the chosen decoder,
# so that every character is compared; "subject-mime" is the Subject as
# Email::MIME's own header decoding gives it.
use strict;
use warnings;
use Email::MIME;
use Encode qw(decode FB_CROAK);
use Encode::EUCJPMS;
use MIME::Base64 qw(decode_base64);

my ($path, $jis) = @ARGV;
die "usage: perl_decode.pl MESSAGE iso-2022-jp|cp50221\n"
  unless defined $jis && ($jis eq 'iso-2022-jp' || $jis eq 'cp50221');

open(my $fh, '<:raw', $path) or die "$path: $!\n";
my $raw = do { local $/; <$fh> };
close $fh;

sub text_of {
    my ($bytes, $charset) = @_;
    $charset = lc($charset // 'us-ascii');
    my $decoder = $charset eq 'iso-2022-jp' ? $jis : $charset;
    my $copy = $bytes;
    my $text = eval { decode($decoder, $copy, FB_CROAK) };
    if (!defined $text) {
        print STDERR "cannot decode as $decoder: $@";
        exit 3;
    }
    return $text;
}

# RFC 2047: every "=?charset?B?...?=" decoded; white space between two
# adjacent encoded-words dropped; the header unfolded first.
sub words {
    my ($value) = @_;
    return '' unless defined $value;
    $value =~ s/\r?\n(?=[ \t])//g;
    $value =~ s/(\?=)[ \t]+(?==\?)/$1/g;
    $value =~ s{=\?([^?]+)\?[Bb]\?([^?]*)\?=}{text_of(decode_base64($2), $1)}ge;
    return $value;
}

sub emit {
    my ($name, $text) = @_;
    my $bytes = Encode::encode('UTF-8', $text);
    print $name, "\t", unpack('H*', $bytes), "\n";
}

my $email = Email::MIME->new($raw);
for my $field (qw(subject from to cc)) {
    emit($field, words(scalar $email->header_raw(ucfirst $field)));
}
emit('subject-mime', scalar $email->header('Subject') // '');

my @parts = $email->subparts ? $email->subparts : ($email);
my $body_part = shift @parts;
emit('charset', $body_part->content_type =~ /charset="?([^";\s]+)/i ? $1 : '');
my ($charset) = $body_part->content_type =~ /charset="?([^";\s]+)/i;
emit('body', text_of($body_part->body, $charset));
for my $part (@parts) {
    emit('name', $part->filename // '');
    my $disposition = $part->header_raw('Content-Disposition') // '';
    $disposition =~ s/\r?\n(?=[ \t])//g;
    my ($quoted) = $disposition =~ /(?:^|;)\s*filename="([^"]*)"/;
    emit('name-words', words($quoted));
    print "data\t", unpack('H*', $part->body), "\n";
}
