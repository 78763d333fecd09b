-- The demo database scripts/run creates as demo/demo.db (SQLite).
-- A few small tables with text, exact numbers, reals, dates, timestamps and
-- NULLs, and one table whose name has mixed case and a blank.

CREATE TABLE customers (
    id        INTEGER PRIMARY KEY,
    name      TEXT NOT NULL,
    city      TEXT,
    joined_on DATE,
    credit    NUMERIC(12, 2),
    notes     TEXT
);
INSERT INTO customers VALUES (1, 'Alda Varnel',    'Lisbon',   '2019-03-14', 1500.00, NULL);
INSERT INTO customers VALUES (2, 'Bruno Ketterle', 'Graz',     '2020-11-02',  250.50, 'Pays late');
INSERT INTO customers VALUES (3, 'Chiara Oduya',   NULL,       '2021-06-30',    0.00, '');
INSERT INTO customers VALUES (4, 'Dmitri Sallow',  'Tallinn',  NULL,          NULL,   'Prefers e-mail');
INSERT INTO customers VALUES (5, 'Eun-ji Park',    'Busan',    '2023-01-09', 9999.99, NULL);

CREATE TABLE orders (
    order_no    INTEGER PRIMARY KEY,
    customer_id INTEGER NOT NULL REFERENCES customers(id),
    ordered_at  TIMESTAMP NOT NULL,
    amount      REAL,
    shipped     INTEGER NOT NULL DEFAULT 0
);
INSERT INTO orders VALUES (1001, 1, '2024-02-01 09:15:00.125000', 120.5,  1);
INSERT INTO orders VALUES (1002, 2, '2024-02-03 17:42:10',         0.1,   0);
INSERT INTO orders VALUES (1003, 1, '2024-03-11 08:00:00',         NULL,  0);
INSERT INTO orders VALUES (1004, 5, '2024-04-22 12:30:45.5',       3.75,  1);

CREATE TABLE "Price List" (
    "Item Code"  TEXT PRIMARY KEY,
    "Description" TEXT,
    "Unit Price" NUMERIC(10, 2),
    "Valid From" DATE
);
INSERT INTO "Price List" VALUES ('A-100', 'Oak shelf, 80 cm',     49.90, '2024-01-01');
INSERT INTO "Price List" VALUES ('A-101', 'Oak shelf, 120 cm',    69.90, '2024-01-01');
INSERT INTO "Price List" VALUES ('B-200', 'Wall bracket (pair)',   7.25,  NULL);
INSERT INTO "Price List" VALUES ('C-300', NULL,                   NULL,  '2024-06-15');

CREATE TABLE visit_log (
    visited_at TIMESTAMP,
    page       TEXT,
    seconds    INTEGER
);
INSERT INTO visit_log VALUES ('2024-05-01 10:00:00', '/home',    12);
INSERT INTO visit_log VALUES ('2024-05-01 10:00:12', '/prices',  NULL);
INSERT INTO visit_log VALUES (NULL,                  '/contact', 3);
