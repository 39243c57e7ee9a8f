-- The demo shop's partners, addresses, carriers, currencies and users
-- (docs/demo-data.md describes them and what each is there to show).

INSERT INTO CARRIER (CARRIERCODE, CARRIERNAME) VALUES
  ('DHL', 'DHL Freight'),
  ('UPS', 'UPS Standard'),
  ('DSV', 'DSV Road'),
  ('PICKUP', 'Collected by the customer');

INSERT INTO CURRENCY (CURRENCYCODE, NAME, EURO, LOCALEID, DECIMALS) VALUES
  ('EUR', 'Euro', 1, NULL, 2),
  ('USD', 'US Dollar', 0, 1033, 2),
  ('GBP', 'Pound Sterling', 0, 2057, 2);

INSERT INTO HOMECURRENCY (HOMECURRENCYID, CURRENCYCODE) VALUES (1, 'EUR');

-- Units of the currency per euro.
INSERT INTO EXCHANGERATE (CURRENCYCODE, EFFECTIVEDATE, RATE) VALUES
  ('USD', '2024-01-01T00:00:00', 1.10),
  ('USD', '2025-01-01T00:00:00', 1.04),
  ('USD', '2025-07-01T00:00:00', 1.17),
  ('GBP', '2024-01-01T00:00:00', 0.86),
  ('GBP', '2025-01-01T00:00:00', 0.83),
  ('GBP', '2025-07-01T00:00:00', 0.85);

INSERT INTO BUSINESSPARTNER (BUSINESSPARTNERID, NAME, PARTNERTYPE, KROCUSTOMERCODE,
    KROSUPPLIERCODE, CURRENCYCODE, CARRIERCODE, PRICINGMETHOD, DISCOUNT,
    POSTALADDRESSID, SHIPPINGADDRESSID) VALUES
  (1000, 'Vendra Demo Supplies', 1, NULL, NULL, 'EUR', 'DHL', 1, 0, 10001, 10001),
  (1001, 'Hallvard Industrial', 2, 'C1001', NULL, 'EUR', 'DHL', 1, 5, 10011, 10012),
  (1002, 'Corvetto Machinery', 2, 'C1002', NULL, 'USD', 'UPS', 2, 0, 10021, 10021),
  (1003, 'Lindqvist Werkzeuge', 2, 'C1003', NULL, 'EUR', 'DSV', 1, 0, 10031, 10032),
  (2001, 'Brandt Fasteners GmbH', 3, NULL, 'S2001', 'EUR', NULL, 1, 0, 20011, 20011),
  (2002, 'Okada Hydraulics Ltd', 3, NULL, 'S2002', 'GBP', NULL, 1, 0, 20021, 20021),
  (2003, 'Ferrant Tools Inc', 3, NULL, 'S2003', 'USD', NULL, 1, 0, 20031, 20031);

-- Back-end address codes: a tw4 back end takes the first three of the last
-- four characters ("C1001-0010" gives "001"; "C1001-0001" gives "000", which
-- counts as no code), tw5 and twkt the first nine ("C1001-001").
INSERT INTO ADDRESS (ADDRESSID, BUSINESSPARTNERID, COUNTRYCODE, NAME1, NAME2, STREET1,
    STREET2, CITY1, CITY2, STATEPROVINCE, ZIPCODE, PHONE, FAX, COUNTRYNAME,
    SHORTDESCRIPTION, KROADDRESSCODE) VALUES
  (10001, 1000, 'NL', 'Vendra Demo Supplies B.V.', NULL, 'Waalhaven Oostzijde 12', NULL,
   'Rotterdam', NULL, 'Zuid-Holland', '3087 BM', '+31 10 555 0100', '+31 10 555 0101',
   'Netherlands', 'Head office', 'H1000-0010'),
  (10011, 1001, 'NO', 'Hallvard Industrial AS', 'Accounts payable', 'Strandveien 40', NULL,
   'Oslo', NULL, NULL, '0252', '+47 22 55 01 00', NULL, 'Norway', 'Invoice address',
   'C1001-0010'),
  (10012, 1001, 'NO', 'Hallvard Industrial AS', 'Goods receiving', 'Industrivegen 7', 'Gate 3',
   'Bergen', 'Laksevag', NULL, '5160', '+47 55 55 02 00', '+47 55 55 02 01', 'Norway',
   'Main warehouse', 'C1001-0020'),
  (10013, 1001, 'NO', 'Hallvard Industrial AS', 'Site office', 'Kaiveien 2', NULL,
   'Stavanger', NULL, NULL, '4006', '+47 51 55 03 00', NULL, 'Norway', 'Harbour site',
   'C1001-0001'),
  (10021, 1002, 'US', 'Corvetto Machinery Inc.', NULL, '2200 West Fulton Street', 'Suite 400',
   'Chicago', NULL, 'IL', '60612', '+1 312 555 0142', '+1 312 555 0143', 'United States',
   'Head office', 'C1002-0010'),
  (10031, 1003, 'DE', 'Lindqvist Werkzeuge GmbH', 'Buchhaltung', 'Heilbronner Strasse 88', NULL,
   'Stuttgart', NULL, 'Baden-Wuerttemberg', '70191', '+49 711 555 3100', NULL, 'Germany',
   'Rechnungsadresse', 'C1003-0010'),
  (10032, 1003, 'DE', 'Lindqvist Werkzeuge GmbH', 'Wareneingang', 'Am Hafen 5', NULL,
   'Mannheim', NULL, 'Baden-Wuerttemberg', '68159', '+49 621 555 3200', NULL, 'Germany',
   'Lager Mannheim', NULL),
  (20011, 2001, 'DE', 'Brandt Fasteners GmbH', NULL, 'Schraubenweg 1', NULL, 'Heilbronn', NULL,
   'Baden-Wuerttemberg', '74072', '+49 7131 555 000', NULL, 'Germany', 'Supplier', 'S2001-0010'),
  (20021, 2002, 'GB', 'Okada Hydraulics Ltd', NULL, '14 Canal Road', NULL, 'Leeds', NULL,
   'West Yorkshire', 'LS12 2PL', '+44 113 555 0190', NULL, 'United Kingdom', 'Supplier',
   'S2002-0010'),
  (20031, 2003, 'US', 'Ferrant Tools Inc', NULL, '800 Industrial Parkway', NULL, 'Cleveland', NULL,
   'OH', '44135', '+1 216 555 0175', NULL, 'United States', 'Supplier', 'S2003-0010');

INSERT INTO USERS (USERID, BUSINESSPARTNERID, LOCALE, REFERENCENAME, FIRSTNAME, LASTNAME,
    EMAILADDRESS) VALUES
  ('anna', 1001, '1033', 'Anna Berg', 'Anna', 'Berg', 'anna.berg@hallvard.example'),
  ('bernd', 1003, '1031', 'Bernd Krause', 'Bernd', 'Krause', 'bernd.krause@lindqvist.example'),
  ('carla', 1002, '1033', 'Carla Mendes', 'Carla', 'Mendes', NULL);
