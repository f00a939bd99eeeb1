#!/usr/bin/perl
# Writes files of formats a Debian machine may lack, into the folder given, deterministically:
# PNG, GIF, PPM (for cjpeg), WAV, PDF, RTF, OLE2 spreadsheets (.xls, through Spreadsheet::WriteExcel),
# and UTF-8 texts, CSV, JSON, XML, HTML and SVG. Usage: make-corpus.pl DIR COUNT_PER_TYPE
use strict;
use warnings;
use utf8;
use Compress::Zlib;

my ($dir, $count) = @ARGV;
srand(4711);

my @words = qw(Umsatz Kosten Bericht Quartal Grüße Straße Müller Köln Lieferung Rechnung Übersicht
  Prüfung Zahlung Kunde Auftrag Menge Preis Datum Konto Vertrag Änderung Fälligkeit Bestand Lager);

sub write_file {
    my ($name, $data, $utf8) = @_;
    open(my $fh, '>', "$dir/$name") or die "$name: $!";
    binmode($fh, $utf8 ? ':utf8' : ':raw');
    print $fh $data;
    close($fh);
}

sub sentence {
    my $n = 4 + int(rand(10));
    return join(' ', map { $words[int(rand(@words))] } 1 .. $n) . ".";
}

sub text_of {
    my ($size) = @_;
    my $text = '';
    $text .= sentence() . (rand() < 0.2 ? "\n\n" : ' ') while length($text) < $size;
    return substr($text, 0, $size);
}

sub png_chunk {
    my ($type, $data) = @_;
    return pack('N', length($data)) . $type . $data . pack('N', crc32($type . $data));
}

sub png {
    my ($w, $h, $kind) = @_;
    my $raw = '';
    for my $y (0 .. $h - 1) {
        $raw .= "\0";
        for my $x (0 .. $w - 1) {
            if ($kind == 0) { $raw .= pack('C3', ($x * 255 / $w), ($y * 255 / $h), 128); }
            elsif ($kind == 1) { $raw .= pack('C3', int(rand(256)), int(rand(256)), int(rand(256))); }
            else { my $v = (int($x / 8) + int($y / 8)) % 2 ? 230 : 20; $raw .= pack('C3', $v, $v, int(rand(40))); }
        }
    }
    return "\x89PNG\r\n\x1A\n" . png_chunk('IHDR', pack('NNCCCCC', $w, $h, 8, 2, 0, 0, 0))
      . png_chunk('IDAT', compress($raw)) . png_chunk('IEND', '');
}

# GIF with 8-bit codes kept at 9 bits by a clear code every 254 pixels: valid, if not compressed.
sub gif {
    my ($w, $h, $kind) = @_;
    my $palette = join('', map { pack('C3', $_, 255 - $_, ($_ * 7) % 256) } 0 .. 255);
    my ($bits, $nbits, $out) = (0, 0, '');
    my $emit = sub { $bits |= $_[0] << $nbits; $nbits += 9; while ($nbits >= 8) { $out .= chr($bits & 255); $bits >>= 8; $nbits -= 8; } };
    my $n = 0;
    $emit->(256);
    for my $y (0 .. $h - 1) {
        for my $x (0 .. $w - 1) {
            my $p = $kind ? int(rand(256)) : (($x + $y) % 64) * 4;
            $emit->($p);
            if (++$n == 254) { $emit->(256); $n = 0; }
        }
    }
    $emit->(257);
    $out .= chr($bits & 255) if $nbits > 0;
    my $blocks = '';
    $blocks .= chr(length($_)) . $_ for unpack('(a255)*', $out);
    return 'GIF89a' . pack('vvCCC', $w, $h, 0xF7, 0, 0) . $palette . ',' . pack('vvvvC', 0, 0, $w, $h, 0)
      . chr(8) . $blocks . "\0;";
}

sub wav {
    my ($seconds, $noise) = @_;
    my $rate = 22050;
    my $pcm = '';
    for my $i (0 .. $seconds * $rate - 1) {
        my $v = 8000 * sin($i * 2 * 3.14159 * 440 / $rate) + 3000 * sin($i * 2 * 3.14159 * 660 / $rate)
          + $noise * (rand() - 0.5);
        $pcm .= pack('s<', int($v));
    }
    return 'RIFF' . pack('V', 36 + length($pcm)) . 'WAVEfmt ' . pack('VvvVVvv', 16, 1, 1, $rate, $rate * 2, 2, 16)
      . 'data' . pack('V', length($pcm)) . $pcm;
}

sub pdf {
    my ($pages, $image) = @_;
    my @objects = ('<< /Type /Catalog /Pages 2 0 R >>', '');
    my @kids;
    for my $p (1 .. $pages) {
        my $content = "BT /F1 11 Tf 50 780 Td 14 TL\n";
        $content .= '(' . text_of(70) . ") '\n" for 1 .. 40;
        $content .= "ET\n";
        $content .= "q 200 0 0 150 50 50 cm /Im1 Do Q\n" if $image;
        my $z = compress($content);
        push @objects, "<< /Length " . length($z) . " /Filter /FlateDecode >>\nstream\n$z\nendstream";
        my $contentId = scalar(@objects);
        push @objects, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents $contentId 0 R"
          . " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>"
          . ($image ? " /XObject << /Im1 IMAGEID 0 R >>" : '') . " >> >>";
        push @kids, scalar(@objects) . ' 0 R';
    }
    if ($image) {
        my $pixels = join('', map { chr(int(rand(256))) } 1 .. 200 * 150 * 3);
        my $z = compress($pixels);
        push @objects, "<< /Type /XObject /Subtype /Image /Width 200 /Height 150 /ColorSpace /DeviceRGB"
          . " /BitsPerComponent 8 /Length " . length($z) . " /Filter /FlateDecode >>\nstream\n$z\nendstream";
        my $id = scalar(@objects);
        s/IMAGEID/$id/ for @objects;
    }
    $objects[1] = '<< /Type /Pages /Kids [' . join(' ', @kids) . '] /Count ' . scalar(@kids) . ' >>';
    my $out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    my @offsets;
    for my $i (0 .. $#objects) {
        push @offsets, length($out);
        $out .= ($i + 1) . " 0 obj\n$objects[$i]\nendobj\n";
    }
    my $xref = length($out);
    $out .= "xref\n0 " . (@objects + 1) . "\n0000000000 65535 f \n";
    $out .= sprintf("%010d 00000 n \n", $_) for @offsets;
    $out .= "trailer\n<< /Size " . (@objects + 1) . " /Root 1 0 R >>\nstartxref\n$xref\n%%EOF\n";
    return $out;
}

for my $i (1 .. $count) {
    my $size = int(100 * 1.9**$i);
    write_file("text$i.txt", text_of($size), 1);
    my $csv = "Datum;Konto;Betrag;Text\n";
    $csv .= sprintf("2026-%02d-%02d;%d;%.2f;%s\n", 1 + $_ % 12, 1 + $_ % 28, 1000 + int(rand(9000)),
        rand(10000) - 5000, $words[int(rand(@words))]) for 1 .. $size / 30;
    write_file("tabelle$i.csv", $csv, 1);
    my $json = "{\n  \"eintraege\": [\n" . join(",\n", map { sprintf('    {"id": %d, "name": "%s", "wert": %.3f}',
        $_, $words[int(rand(@words))], rand(1000)) } 1 .. $size / 50 + 2) . "\n  ]\n}\n";
    write_file("daten$i.json", $json, 1);
    my $xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<buchungen>\n" . join('', map { sprintf(
        "  <buchung nr=\"%d\"><text>%s</text><betrag>%.2f</betrag></buchung>\n", $_, sentence(), rand(500)) }
        1 .. $size / 80 + 2) . "</buchungen>\n";
    write_file("buchungen$i.xml", $xml, 1);
    my $html = "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>Bericht $i</title></head>\n<body>\n"
      . join('', map { "<p>" . sentence() . "</p>\n" } 1 .. $size / 60 + 2) . "</body></html>\n";
    write_file("bericht$i.html", $html, 1);
    my $svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"400\" height=\"300\">\n" . join('', map {
        sprintf("  <circle cx=\"%d\" cy=\"%d\" r=\"%d\" fill=\"#%06x\"/>\n", rand(400), rand(300), 2 + rand(40),
        int(rand(0xFFFFFF))) } 1 .. $size / 60 + 2) . "</svg>\n";
    write_file("bild$i.svg", $svg, 1);
    my $rtf = "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times New Roman;}}\n" . join('', map {
        my $s = sentence(); $s =~ s/([^\x00-\x7F])/sprintf("\\'%02x", ord($1))/ge; "\\pard $s\\par\n" }
        1 .. $size / 60 + 2) . "}\n";
    write_file("brief$i.rtf", $rtf, 1);
    my $side = 16 + 12 * $i;
    write_file("bild$i.png", png($side, $side, $i % 3));
    write_file("bild$i.gif", gif($side, $side, $i % 2));
    my $ppm = "P6\n$side $side\n255\n" . join('', map { my $y = int($_ / $side); my $x = $_ % $side;
        pack('C3', ($x * 3 + $y) % 256, ($y * 5) % 256, int(rand(30)) + 100) } 0 .. $side * $side - 1);
    write_file("bild$i.ppm", $ppm);
    write_file("ton$i.wav", wav(0.2 * $i, 2000 * ($i % 3)));
    write_file("dokument$i.pdf", pdf(1 + $i % 4, $i % 2));
}

if (eval { require Spreadsheet::WriteExcel; 1 }) {
    for my $i (1 .. $count) {
        my $book = Spreadsheet::WriteExcel->new("$dir/tabelle$i.xls") or die;
        my $sheet = $book->add_worksheet('Umsätze');
        for my $row (0 .. 20 * $i) {
            $sheet->write($row, 0, $words[int(rand(@words))]);
            $sheet->write($row, 1, rand(10000));
            $sheet->write($row, 2, int(rand(100)));
        }
        $book->close();
    }
}
