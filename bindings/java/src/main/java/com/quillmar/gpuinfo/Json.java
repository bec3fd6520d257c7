package com.quillmar.gpuinfo;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A strict JSON reader (RFC 8259) for the library's report, which has a
 * fixed shape: objects become {@code Map<String, Object>}, arrays
 * {@code List<Object>}, strings {@code String}, integers {@code Long} (or
 * {@code Double} beyond a long, or with a fraction or exponent),
 * {@code true}/{@code false} {@code Boolean} and {@code null} null. Small
 * enough to need no library, so the binding depends on JNA alone.
 */
final class Json {
    /** Deeper than any report; a bound keeps a hostile text from exhausting the stack. */
    private static final int MAX_DEPTH = 64;

    /** Why a text is not JSON, and where. */
    static final class ParseException extends Exception {
        private static final long serialVersionUID = 1L;

        ParseException(String message, int position) {
            super(message + " at character " + position);
        }
    }

    private final String text;
    private int at;

    private Json(String text) {
        this.text = text;
    }

    /** The value the whole of {@code text} is. */
    static Object parse(String text) throws ParseException {
        Json reader = new Json(text);
        Object value = reader.value(0);
        reader.space();
        if (reader.at != text.length()) {
            throw reader.error("text after the value");
        }
        return value;
    }

    private ParseException error(String message) {
        return new ParseException(message, at);
    }

    private void space() {
        while (at < text.length() && " \t\r\n".indexOf(text.charAt(at)) >= 0) {
            at++;
        }
    }

    private char next() throws ParseException {
        if (at >= text.length()) {
            throw error("unexpected end");
        }
        return text.charAt(at++);
    }

    private void expect(char wanted) throws ParseException {
        if (next() != wanted) {
            at--;
            throw error("expected '" + wanted + "'");
        }
    }

    private Object value(int depth) throws ParseException {
        if (depth > MAX_DEPTH) {
            throw error("nested deeper than " + MAX_DEPTH);
        }
        space();
        if (at >= text.length()) {
            throw error("unexpected end");
        }
        char c = text.charAt(at);
        switch (c) {
            case '{':
                return object(depth);
            case '[':
                return array(depth);
            case '"':
                return string();
            case 't':
                return word("true", Boolean.TRUE);
            case 'f':
                return word("false", Boolean.FALSE);
            case 'n':
                return word("null", null);
            default:
                if (c == '-' || (c >= '0' && c <= '9')) {
                    return number();
                }
                throw error("unexpected '" + c + "'");
        }
    }

    private Object word(String word, Object value) throws ParseException {
        if (!text.startsWith(word, at)) {
            throw error("expected " + word);
        }
        at += word.length();
        return value;
    }

    private Map<String, Object> object(int depth) throws ParseException {
        expect('{');
        Map<String, Object> members = new LinkedHashMap<>();
        space();
        if (at < text.length() && text.charAt(at) == '}') {
            at++;
            return members;
        }
        while (true) {
            space();
            if (at >= text.length() || text.charAt(at) != '"') {
                throw error("expected a key");
            }
            String key = string();
            space();
            expect(':');
            if (members.containsKey(key)) {
                throw error("key \"" + key + "\" given twice");
            }
            members.put(key, value(depth + 1));
            space();
            if (next() == '}') {
                return members;
            }
            at--;
            expect(',');
        }
    }

    private List<Object> array(int depth) throws ParseException {
        expect('[');
        List<Object> items = new ArrayList<>();
        space();
        if (at < text.length() && text.charAt(at) == ']') {
            at++;
            return items;
        }
        while (true) {
            items.add(value(depth + 1));
            space();
            if (next() == ']') {
                return items;
            }
            at--;
            expect(',');
        }
    }

    private String string() throws ParseException {
        expect('"');
        StringBuilder out = new StringBuilder();
        while (true) {
            char c = next();
            if (c == '"') {
                return out.toString();
            }
            if (c < 0x20) {
                at--;
                throw error("control character in a string");
            }
            if (c != '\\') {
                out.append(c);
                continue;
            }
            char escape = next();
            switch (escape) {
                case '"', '\\', '/' -> out.append(escape);
                case 'b' -> out.append('\b');
                case 'f' -> out.append('\f');
                case 'n' -> out.append('\n');
                case 'r' -> out.append('\r');
                case 't' -> out.append('\t');
                case 'u' -> out.append(hex4());
                default -> {
                    at--;
                    throw error("unknown escape '\\" + escape + "'");
                }
            }
        }
    }

    private char hex4() throws ParseException {
        if (at + 4 > text.length()) {
            throw error("unexpected end in a \\u escape");
        }
        int code = 0;
        for (int i = 0; i < 4; i++) {
            int digit = Character.digit(text.charAt(at + i), 16);
            if (digit < 0) {
                throw error("bad \\u escape");
            }
            code = code * 16 + digit;
        }
        at += 4;
        return (char) code;
    }

    private Object number() throws ParseException {
        int start = at;
        if (text.charAt(at) == '-') {
            at++;
        }
        if (at < text.length() && text.charAt(at) == '0') {
            at++;
        } else if (!digits()) {
            throw error("expected a digit");
        }
        boolean integral = true;
        if (at < text.length() && text.charAt(at) == '.') {
            at++;
            integral = false;
            if (!digits()) {
                throw error("expected a digit after '.'");
            }
        }
        if (at < text.length() && (text.charAt(at) == 'e' || text.charAt(at) == 'E')) {
            at++;
            integral = false;
            if (at < text.length() && (text.charAt(at) == '+' || text.charAt(at) == '-')) {
                at++;
            }
            if (!digits()) {
                throw error("expected a digit in the exponent");
            }
        }
        String literal = text.substring(start, at);
        if (integral) {
            try {
                return Long.parseLong(literal);
            } catch (NumberFormatException beyondLong) {
                // Kept as a double: a reader of this shape refuses it as out of range.
            }
        }
        return Double.parseDouble(literal);
    }

    private boolean digits() {
        int start = at;
        while (at < text.length() && text.charAt(at) >= '0' && text.charAt(at) <= '9') {
            at++;
        }
        return at > start;
    }
}
