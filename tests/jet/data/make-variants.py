#!/usr/bin/env python3
"""Writes the Jet 4 test files of this folder that the shared fixtures do not cover:

  python3 make-variants.py PATH/TO/jetwriter.py

edges-jet4.MyDB: the catalogue's tables with values at the edges of what the conversion keeps
(characters outside the Basic Multilingual Plane, NULL beside "", money beyond a double's
precision, the first and last dates, a date outside the years 100 to 9999, a text in a numeric
column, a memo of 123,002 characters, pictures at the long-value storage sizes with their notes
in a Memo column, an explicit id followed by automatic ones), plus a table and a column the
catalogue does not know.
missing-tables-jet4.MyDB: the catalogue without the rooms table and the komnaty directory.
"""
import json, os, subprocess, sys, tempfile

DIRECTORIES = ['grupy', 'rajony', 'dveri', 'garazhi', 'gazy', 'kolonki', 'konalizacii', 'pechi',
               'peregorodki', 'sanuzly', 'tipy_kv', 'tipy_stroenij', 'voda', 'komnaty']
T = 'text'
ITEMS = [('id', 'autonumber'), ('date_reg', 'datetime'), ('grupa', T), ('rajon', T),
         ('obsh_plosh', 'double'), ('sanuzel', T), ('komnoty', T), ('tip_kv', T), ('sost', 'memo'),
         ('pech', T), ('kolonka', T), ('etazh', T), ('etazhnost', 'integer'), ('dver', T),
         ('perigorodka', T), ('osob', 'memo'), ('gaz', T), ('konaliz', T), ('garazh', T), ('voda', T),
         ('tip_stroen', T), ('stoim', 'currency'), ('dolg', 'currency'), ('kontakt_inf', 'memo'),
         ('foto_url', T)]


def cols(layout):
    return [{'name': n, 'type': t} for n, t in layout]


def pattern(n, step):
    """Picture bytes that the tests make again: byte i is (i * step) % 251."""
    return {'hex': bytes((i * step) % 251 for i in range(n)).hex()}


def memo():
    return '😀' + 'Строка описания с эмодзи 🏠 и знаками «»; ' * 3000 + '🔑'


def edges():
    items = [
        {'id': 1, 'date_reg': '1899-12-30T00:00:00', 'grupa': 'Продажа 🏠', 'rajon': '', 'sost': '',
         'obsh_plosh': 54.3, 'etazh': '5', 'etazhnost': 9, 'stoim': '922337203685477.5807',
         'dolg': '-922337203685477.5807', 'kontakt_inf': memo(), 'foto_url': 'http://x/1.jpg'},
        {'id': 100, 'date_reg': '2100-01-01T00:00:00', 'grupa': '', 'etazh': 'пятый',
         'stoim': '0.0001', 'dolg': '1520.5', 'osob': 'Кирпичный дом "сталинка"'},
        {'date_reg': -1.25, 'etazh': None, 'stoim': '-1520.5', 'dolg': '0'},
        {'date_reg': 3000000.5, 'stoim': '12345678901.2345', 'sanuzel': 'Раздельный'},
        {'date_reg': '2004-05-06T07:08:09.500', 'stoim': '100', 'dolg': None},
    ]
    slides = [
        {'parent_id': 1, 'ext': '.jpg', 'picture': pattern(64, 7), 'notes': None},
        {'parent_id': 1, 'ext': '.bmp', 'picture': pattern(4080, 11), 'notes': ''},
        {'parent_id': 100, 'ext': '.JPG', 'picture': pattern(4081, 13), 'notes': 'Вид 🌅'},
        {'parent_id': 100, 'ext': '.jpg', 'picture': pattern(300000, 17), 'notes': 'Фасад'},
    ]
    tables = [
        {'name': 'items', 'columns': cols(ITEMS), 'rows': items},
        {'name': 'slides', 'columns': cols([('id', 'autonumber'), ('parent_id', 'long'), ('ext', T),
                                            ('picture', 'ole'), ('notes', 'memo')]), 'rows': slides},
        {'name': 'Rooms', 'columns': cols([('Items_ID', 'long'), ('RoomName', T), ('P', 'single')]),
         'rows': [[1, 'Кухня', 18.3], [1, '', None], [100, None, 7.25]]},
        {'name': 'PWL_CELL', 'columns': cols([('pwl_value', T)]), 'rows': [['пароль 🔑']]},
        {'name': 'zayavki', 'columns': cols([('id', 'autonumber'), ('tekst', T)]), 'rows': [{'tekst': 'звонок'}]},
    ]
    tables += [{'name': d, 'columns': cols([('naimen', T)]), 'rows': [[d + ' 1'], ['']]} for d in DIRECTORIES]
    return {'tables': tables}


def missing_tables():
    layout = edges()
    layout['tables'] = [t for t in layout['tables'] if t['name'] not in ('Rooms', 'komnaty')]
    for t in layout['tables']:
        t['rows'] = t['rows'][:1]
    layout['tables'][0]['rows'][0]['kontakt_inf'] = 'Иванов'
    return layout


def main(writer):
    here = os.path.dirname(os.path.abspath(__file__))
    for name, layout in (('edges-jet4.MyDB', edges()), ('missing-tables-jet4.MyDB', missing_tables())):
        with tempfile.NamedTemporaryFile('w', suffix='.json', delete=False, encoding='utf-8') as f:
            json.dump(layout, f, ensure_ascii=False)
        try:
            subprocess.run([sys.executable, writer, os.path.join(here, name), f.name], check=True)
        finally:
            os.unlink(f.name)


if __name__ == '__main__':
    main(sys.argv[1])
