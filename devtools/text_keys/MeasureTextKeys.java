// Writes the strings of a list into a new Jet 4 file through the reference
// library for the format, whose text indexes follow the engine's sort order:
// table K holds N (the string's line number), T (text) and M (memo), indexed
// ascending on T, descending on T, on M and on (N, T). The keys are then read
// back with dump_text_keys. Run by measure.sh, never by the build.
//
// usage: MeasureTextKeys OUT.mdb general|legacy STRINGS
// STRINGS: one string a line, as UTF-16 code units of four hex digits each
// ("-" for NULL).
import com.healthmarketscience.jackcess.ColumnBuilder;
import com.healthmarketscience.jackcess.DataType;
import com.healthmarketscience.jackcess.Database;
import com.healthmarketscience.jackcess.DatabaseBuilder;
import com.healthmarketscience.jackcess.IndexBuilder;
import com.healthmarketscience.jackcess.Table;
import com.healthmarketscience.jackcess.TableBuilder;
import com.healthmarketscience.jackcess.impl.ColumnImpl;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.List;

public class MeasureTextKeys {
    public static void main(String[] args) throws Exception {
        File out = new File(args[0]);
        ColumnImpl.SortOrder order = args[1].equals("legacy") ? ColumnImpl.GENERAL_LEGACY_SORT_ORDER
                                                              : ColumnImpl.GENERAL_SORT_ORDER;
        List<String> lines = Files.readAllLines(Paths.get(args[2]));
        out.delete();
        try (Database db = new DatabaseBuilder(out).setFileFormat(Database.FileFormat.V2003).create()) {
            ColumnBuilder text = new ColumnBuilder("T", DataType.TEXT).setLength(510);
            text.setTextSortOrder(order);
            ColumnBuilder memo = new ColumnBuilder("M", DataType.MEMO);
            memo.setTextSortOrder(order);
            Table table = new TableBuilder("K")
                              .addColumn(new ColumnBuilder("N", DataType.LONG))
                              .addColumn(text)
                              .addColumn(memo)
                              .addIndex(new IndexBuilder("TA").addColumns("T"))
                              .addIndex(new IndexBuilder("TD").addColumns(false, "T"))
                              .addIndex(new IndexBuilder("MA").addColumns("M"))
                              .addIndex(new IndexBuilder("NT").addColumns("N", "T"))
                              .toTable(db);
            int n = 0;
            for (String line : lines) {
                if (line.equals("-")) {
                    table.addRow(n++, null, null);
                    continue;
                }
                StringBuilder s = new StringBuilder();
                for (int i = 0; i + 4 <= line.length(); i += 4) {
                    s.append((char) Integer.parseInt(line.substring(i, i + 4), 16));
                }
                String value = s.toString();
                String cut = value.length() > 255 ? value.substring(0, 255) : value;
                table.addRow(n++, cut, value);
            }
        }
    }
}
