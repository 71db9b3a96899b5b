"""The manual page renders without a single groff warning and documents every
option that `tarvelle --help` lists."""

import os
import re
import subprocess
import unittest

MAN_PAGE = os.environ["TARVELLE_MAN_PAGE"]


def help_options(help_text):
    """Every option named in the option lines of the usage: '-o', '--output-dir', ..."""
    options = []
    for line in help_text.splitlines():
        if re.match(r"\s+-", line):
            # The option column ends at the first run of two blanks.
            column = re.split(r"\s{2,}", line.strip())[0]
            options += re.findall(r"(?<![\w-])--?[A-Za-z][\w-]*", column)
    return options


def man_page_words(roff_text):
    """The page's source with roff's escaped dashes and font changes undone."""
    return re.sub(r"\\f[BIRP]", "", roff_text).replace("\\-", "-")


class ManPageTest(unittest.TestCase):
    def test_renders_without_warnings(self):
        result = subprocess.run([os.environ.get("TARVELLE_GROFF", "groff"), "-man", "-ww", "-z", MAN_PAGE],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_documents_every_option_of_the_usage(self):
        usage = subprocess.run([os.environ["TARVELLE_BINARY"], "--help"], capture_output=True, text=True,
                               stdin=subprocess.DEVNULL, timeout=60, check=True).stdout
        options = help_options(usage)
        # Guards the parser: an empty list would make the check below pass.
        self.assertIn("--help", options)
        self.assertIn("--version", options)
        with open(MAN_PAGE, encoding="utf-8") as page:
            words = man_page_words(page.read())
        missing = [option for option in options
                   if not re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", words)]
        self.assertEqual(missing, [])

    def test_option_parser_reads_short_and_long_forms_and_skips_arguments(self):
        usage = ("Options:\n"
                 "  -o DIR, --output-dir DIR  write the outputs into DIR, not -x or --not-this\n"
                 "  -q, --quiet               no per-file lines\n"
                 "      --json                JSON Lines\n")
        self.assertEqual(help_options(usage), ["-o", "--output-dir", "-q", "--quiet", "--json"])


if __name__ == "__main__":
    unittest.main()
